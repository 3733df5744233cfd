// Writes the program's hand cursor (HAND-M.CUR) in the Windows .cur format:
// one 32x32 picture, 32-bit BGRA with an AND mask, hot spot at the tip of
// the index finger. The drawing is the table below; the build runs this
// tool so that no binary file is kept in the sources.
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string_view>
#include <vector>

namespace {

constexpr int kSize = 32;

// '.' transparent, 'X' black outline, 'o' white fill, '@' the outline pixel
// that is the hot spot.
constexpr std::array<std::string_view, kSize> kDrawing = {
    "................................",  //
    "..........X@X...................",  //
    ".........XoooX..................",  //
    ".........XoooX..................",  //
    ".........XoooX..................",  //
    ".........XoooX..................",  //
    ".........XoooX..................",  //
    ".........XoooX..................",  //
    ".........XoooXXXX...............",  //
    ".........XoooXoooX..............",  //
    ".........XoooXoooXXXX...........",  //
    ".........XoooXoooXoooX..........",  //
    ".........XoooXoooXoooXXX........",  //
    ".....XX..XoooXoooXoooXooX.......",  //
    "....XooX.XoooXoooXoooXooX.......",  //
    "....XoooXXoooXoooXoooXooX.......",  //
    ".....XoooXooooooooooooooX.......",  //
    "......XoooooooooooooooooX.......",  //
    ".......XooooooooooooooooX.......",  //
    "........XoooooooooooooooX.......",  //
    ".........XooooooooooooooX.......",  //
    ".........XoooooooooooooX........",  //
    "..........XooooooooooooX........",  //
    "..........XooooooooooooX........",  //
    "..........XXXXXXXXXXXXXX........",  //
    "..........XooooooooooooX........",  //
    "..........XooooooooooooX........",  //
    "..........XXXXXXXXXXXXXX........",  //
    "................................",  //
    "................................",  //
    "................................",  //
    "................................",  //
};

struct HotSpot {
    int x = -1;
    int y = -1;
};

// The drawing must be square, use only known characters and mark exactly
// one hot spot; checked at compile time.
constexpr HotSpot findHotSpot() {
    HotSpot spot;
    int marks = 0;
    for (int y = 0; y < kSize; ++y) {
        if (kDrawing[y].size() != kSize) return HotSpot{};
        for (int x = 0; x < kSize; ++x) {
            const char c = kDrawing[y][x];
            if (c == '@') {
                spot = HotSpot{x, y};
                ++marks;
            } else if (c != '.' && c != 'X' && c != 'o') {
                return HotSpot{};
            }
        }
    }
    return marks == 1 ? spot : HotSpot{};
}

constexpr HotSpot kHotSpot = findHotSpot();
static_assert(kHotSpot.x >= 0 && kHotSpot.y >= 0, "the drawing needs one '@' and square rows");

void put8(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFFu));
}
void put16(std::vector<std::uint8_t>& out, unsigned value) {
    put8(out, value);
    put8(out, value >> 8);
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    put16(out, value & 0xFFFFu);
    put16(out, value >> 16);
}

std::vector<std::uint8_t> cursorFile() {
    constexpr std::uint32_t kHeaderBytes = 40;
    constexpr std::uint32_t kColourBytes = kSize * kSize * 4;
    constexpr std::uint32_t kMaskRowBytes = ((kSize + 31) / 32) * 4;
    constexpr std::uint32_t kMaskBytes = kMaskRowBytes * kSize;
    constexpr std::uint32_t kPictureBytes = kHeaderBytes + kColourBytes + kMaskBytes;
    constexpr std::uint32_t kPictureOffset = 6 + 16;

    std::vector<std::uint8_t> out;
    out.reserve(kPictureOffset + kPictureBytes);

    // Directory: reserved, type 2 (cursor), one entry.
    put16(out, 0);
    put16(out, 2);
    put16(out, 1);
    // Entry: for cursors the planes and bit-count fields hold the hot spot.
    put8(out, kSize);
    put8(out, kSize);
    put8(out, 0);
    put8(out, 0);
    put16(out, static_cast<unsigned>(kHotSpot.x));
    put16(out, static_cast<unsigned>(kHotSpot.y));
    put32(out, kPictureBytes);
    put32(out, kPictureOffset);

    // The picture's header counts the colour and mask halves in its height.
    put32(out, kHeaderBytes);
    put32(out, kSize);
    put32(out, 2 * kSize);
    put16(out, 1);
    put16(out, 32);
    put32(out, 0);
    put32(out, kColourBytes + kMaskBytes);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);

    // Rows are stored bottom-up.
    for (int y = kSize - 1; y >= 0; --y) {
        for (int x = 0; x < kSize; ++x) {
            const char c = kDrawing[y][x];
            const bool opaque = c != '.';
            const unsigned level = c == 'o' ? 0xFF : 0x00;
            put8(out, level);
            put8(out, level);
            put8(out, level);
            put8(out, opaque ? 0xFF : 0x00);
        }
    }
    // AND mask: a set bit leaves the screen as it is.
    for (int y = kSize - 1; y >= 0; --y) {
        for (std::uint32_t byte = 0; byte < kMaskRowBytes; ++byte) {
            unsigned bits = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const int x = static_cast<int>(byte) * 8 + bit;
                const bool transparent = x >= kSize || kDrawing[y][x] == '.';
                if (transparent) bits |= 0x80u >> bit;
            }
            put8(out, bits);
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-hand-cursor OUTPUT.CUR\n");
        return 2;
    }
    const std::vector<std::uint8_t> bytes = cursorFile();
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    if (file) {
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        file.close();
    }
    if (!file) {
        std::fprintf(stderr, "make-hand-cursor: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
