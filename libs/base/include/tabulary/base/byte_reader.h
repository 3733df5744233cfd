// Bounds-checked little-endian reads from untrusted bytes. The only place in
// the engine that turns raw bytes into integers; every read checks its range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace tab {

using Bytes = std::span<const uint8_t>;

// True if [off, off+len) lies inside a buffer of `size` bytes, without overflow.
inline bool inBounds(size_t size, size_t off, size_t len) { return off <= size && len <= size - off; }

inline std::optional<uint8_t> readU8(Bytes b, size_t off) {
    if (off >= b.size()) return std::nullopt;
    return b[off];
}
inline std::optional<uint16_t> readU16Le(Bytes b, size_t off) {
    if (!inBounds(b.size(), off, 2)) return std::nullopt;
    return static_cast<uint16_t>(b[off] | (b[off + 1] << 8));
}
inline std::optional<uint32_t> readU32Le(Bytes b, size_t off) {
    if (!inBounds(b.size(), off, 4)) return std::nullopt;
    return static_cast<uint32_t>(b[off]) | (static_cast<uint32_t>(b[off + 1]) << 8) |
           (static_cast<uint32_t>(b[off + 2]) << 16) | (static_cast<uint32_t>(b[off + 3]) << 24);
}
inline std::optional<uint64_t> readU64Le(Bytes b, size_t off) {
    auto lo = readU32Le(b, off);
    auto hi = readU32Le(b, off + 4);
    if (!lo || !hi || off + 4 < off) return std::nullopt;
    return static_cast<uint64_t>(*lo) | (static_cast<uint64_t>(*hi) << 32);
}
inline std::optional<double> readF64Le(Bytes b, size_t off) {
    auto v = readU64Le(b, off);
    if (!v) return std::nullopt;
    double d;
    std::memcpy(&d, &*v, 8);
    return d;
}
inline std::optional<float> readF32Le(Bytes b, size_t off) {
    auto v = readU32Le(b, off);
    if (!v) return std::nullopt;
    float f;
    std::memcpy(&f, &*v, 4);
    return f;
}
inline std::optional<Bytes> subspan(Bytes b, size_t off, size_t len) {
    if (!inBounds(b.size(), off, len)) return std::nullopt;
    return b.subspan(off, len);
}

// Unchecked reads: callers must have checked the range first.
inline uint16_t u16At(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t u32At(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace tab
