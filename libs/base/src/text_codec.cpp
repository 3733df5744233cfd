#include "tabulary/base/text_codec.h"

#include <unicode/ucnv.h>

#include <map>
#include <memory>
#include <mutex>

namespace tab {

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

namespace {

// Appends code unit u, pairing it with a pending high surrogate; the one- and
// two-byte forms without a call, as most text is Western.
struct Utf16Sink {
    std::string& out;
    char16_t pendingHigh = 0;

    void put(char16_t u) {
        if (pendingHigh) {
            if (u >= 0xDC00 && u <= 0xDFFF) {
                char32_t cp = 0x10000 + ((static_cast<char32_t>(pendingHigh) - 0xD800) << 10) +
                              (static_cast<char32_t>(u) - 0xDC00);
                pendingHigh = 0;
                appendUtf8(out, cp);
                return;
            }
            appendUtf8(out, 0xFFFD);
            pendingHigh = 0;
        }
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u < 0x800) {
            const char two[2] = {static_cast<char>(0xC0 | (u >> 6)),
                                 static_cast<char>(0x80 | (u & 0x3F))};
            out.append(two, 2);
        } else if (u >= 0xD800 && u <= 0xDBFF) {
            pendingHigh = u;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, u);
        }
    }
    void finish() {
        if (pendingHigh) appendUtf8(out, 0xFFFD);
        pendingHigh = 0;
    }
};

// Appends bytes [from, to) of `s` that are all in 1..0x7F as one copy;
// returns where that run ends.
size_t appendAsciiRun(std::string& out, const uint8_t* s, size_t from, size_t to) {
    size_t i = from;
    while (i < to && s[i] > 0 && s[i] < 0x80) ++i;
    out.append(reinterpret_cast<const char*>(s) + from, i - from);
    return i;
}

}  // namespace

void appendUtf16Le(std::string& out, std::span<const uint8_t> bytes) {
    const uint8_t* p = bytes.data();
    const size_t n = bytes.size() & ~size_t{1};
    out.reserve(out.size() + n / 2);
    Utf16Sink sink{out};
    size_t i = 0;
    while (i < n) {
        // ASCII pairs straight through: most text in real files is plain ASCII.
        if (!sink.pendingHigh) {
            while (i < n && p[i + 1] == 0 && p[i] < 0x80) {
                out.push_back(static_cast<char>(p[i]));
                i += 2;
            }
            if (i >= n) break;
        }
        sink.put(static_cast<char16_t>(p[i] | (p[i + 1] << 8)));
        i += 2;
    }
    sink.finish();
}

std::string utf16LeToUtf8(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size());
    appendUtf16Le(out, bytes);
    return out;
}

bool isCompressedJetText(std::span<const uint8_t> bytes) {
    return bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
}

// A 0x00 byte in compressed text switches between one-byte and two-byte characters.
void appendJetText(std::string& out, std::span<const uint8_t> bytes) {
    if (!isCompressedJetText(bytes)) return appendUtf16Le(out, bytes);
    const uint8_t* p = bytes.data();
    const size_t size = bytes.size();
    out.reserve(out.size() + size);
    Utf16Sink sink{out};
    bool compressed = true;
    size_t i = 2;
    while (i < size) {
        uint8_t b = p[i];
        if (b == 0x00) {
            compressed = !compressed;
            ++i;
        } else if (compressed) {
            if (b < 0x80 && !sink.pendingHigh) {
                i = appendAsciiRun(out, p, i, size);
            } else {
                sink.put(b);
                ++i;
            }
        } else if (i + 1 < size) {
            sink.put(static_cast<char16_t>(b | (p[i + 1] << 8)));
            i += 2;
        } else {
            break;
        }
    }
    sink.finish();
}

std::string decodeJetText(std::span<const uint8_t> bytes) {
    std::string out;
    appendJetText(out, bytes);
    return out;
}

namespace {

// Windows-1252 0x80..0x9F; the undefined bytes map to the C1 control of the same value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct ConverterCache {
    std::mutex mutex;
    std::map<int, UConverter*> converters;  // nullptr: the code page is unknown to ICU
    ~ConverterCache() {
        for (auto& [cp, conv] : converters)
            if (conv) ucnv_close(conv);
    }
};

UConverter* converterFor(ConverterCache& cache, int codePage) {
    auto it = cache.converters.find(codePage);
    if (it != cache.converters.end()) return it->second;
    UConverter* conv = nullptr;
    for (const char* pattern : {"windows-%d", "cp%d", "ibm-%d"}) {
        char name[32];
        std::snprintf(name, sizeof name, pattern, codePage);
        UErrorCode status = U_ZERO_ERROR;
        conv = ucnv_open(name, &status);
        if (U_SUCCESS(status) && conv) break;
        if (conv) ucnv_close(conv);
        conv = nullptr;
    }
    cache.converters[codePage] = conv;
    return conv;
}

}  // namespace

std::string codePageToUtf8(std::span<const uint8_t> bytes, int codePage) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    if (codePage == 0 || codePage == 1252 || codePage == 28591) {
        for (uint8_t b : bytes) {
            if (b < 0x80)
                out.push_back(static_cast<char>(b));
            else if (b < 0xA0 && codePage != 28591)
                appendUtf8(out, kCp1252High[b - 0x80]);
            else
                appendUtf8(out, b);
        }
        return out;
    }
    static ConverterCache cache;
    std::lock_guard lock(cache.mutex);
    UConverter* conv = converterFor(cache, codePage);
    if (!conv) return codePageToUtf8(bytes, 1252);
    std::u16string units(bytes.size() * 2 + 1, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = ucnv_toUChars(
        conv, reinterpret_cast<UChar*>(units.data()), static_cast<int32_t>(units.size()),
        reinterpret_cast<const char*>(bytes.data()), static_cast<int32_t>(bytes.size()), &status);
    if (U_FAILURE(status)) return codePageToUtf8(bytes, 1252);
    Utf16Sink sink{out};
    for (int32_t i = 0; i < n; ++i) sink.put(units[static_cast<size_t>(i)]);
    sink.finish();
    return out;
}

bool isValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<uint8_t>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        char32_t cp, min;
        if ((c >> 5) == 6) {
            len = 2, cp = c & 0x1F, min = 0x80;
        } else if ((c >> 4) == 14) {
            len = 3, cp = c & 0x0F, min = 0x800;
        } else if ((c >> 3) == 30) {
            len = 4, cp = c & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k) {
            auto cc = static_cast<uint8_t>(s[i + k]);
            if ((cc >> 6) != 2) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

std::u16string utf8ToUtf16(std::string_view s) {
    std::u16string out;
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<uint8_t>(s[i]);
        char32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c >> 5) == 6) {
            cp = c & 0x1F;
            len = 2;
        } else if ((c >> 4) == 14) {
            cp = c & 0x0F;
            len = 3;
        } else if ((c >> 3) == 30) {
            cp = c & 0x07;
            len = 4;
        } else {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (i + len > s.size()) {
            out.push_back(u'\uFFFD');
            break;
        }
        bool bad = false;
        for (size_t k = 1; k < len; ++k) {
            auto cc = static_cast<uint8_t>(s[i + k]);
            if ((cc >> 6) != 2) bad = true;
            cp = (cp << 6) | (cc & 0x3F);
        }
        i += len;
        if (bad) {
            out.push_back(u'\uFFFD');
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

}  // namespace tab
