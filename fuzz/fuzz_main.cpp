// Replays inputs through a fuzz target without libFuzzer: every file named on
// the command line, and every regular file below each directory named there.
// Used by the regression tests, so a fixed crash stays fixed in normal builds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

bool runFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    std::fprintf(stderr, "%s (%zu bytes)\n", path.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE|DIR...\n", argv[0]);
        return 2;
    }
    size_t runs = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        fs::path arg(argv[i]);
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            // Sorted, so a failure names the same input on every machine.
            std::vector<fs::path> files;
            for (const auto& e : fs::recursive_directory_iterator(arg, ec))
                if (e.is_regular_file()) files.push_back(e.path());
            if (ec) {
                std::fprintf(stderr, "cannot list %s: %s\n", argv[i], ec.message().c_str());
                ok = false;
            }
            std::sort(files.begin(), files.end());
            for (const auto& f : files) {
                ok = runFile(f) && ok;
                ++runs;
            }
        } else if (fs::is_regular_file(arg, ec)) {
            ok = runFile(arg) && ok;
            ++runs;
        } else {
            std::fprintf(stderr, "no such file or directory: %s\n", argv[i]);
            ok = false;
        }
    }
    std::fprintf(stderr, "replayed %zu inputs\n", runs);
    return ok ? 0 : 1;
}
