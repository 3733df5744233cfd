// Where the tests find the external corpus of Access-made files: the
// TABULARY_CORPUS environment variable, else the directory configured at
// build time. Tests skip when it is absent.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace tab::jet {

inline std::filesystem::path corpusRoot() {
    if (const char* env = std::getenv("TABULARY_CORPUS"); env && *env)
        return std::filesystem::path(env);
    return std::filesystem::path(TABULARY_CORPUS_DIR);
}

// The whole file; empty if it cannot be read.
inline std::vector<uint8_t> readCorpusBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

}  // namespace tab::jet
