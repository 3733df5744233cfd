#include "tabulary/writers/text_documents.h"

#include <cstdint>
#include <vector>

#include "utf8.h"

namespace tab::writers {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The code point at `i` and its length, or -1 and 1 for a byte that does
// not start a well-formed sequence.
int32_t decodeAt(std::string_view s, size_t i, size_t& length) {
    uint32_t cp = 0;
    length = decodeUtf8(s, i, cp);
    if (length == 0) {
        length = 1;
        return -1;
    }
    return static_cast<int32_t>(cp);
}

bool isNameStart(int32_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
           (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0xEFFFF);
}

bool isNameChar(int32_t c) {
    return isNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

bool validName(std::string_view s) {
    if (s.empty()) return false;
    for (size_t i = 0, n = 0; i < s.size(); i += n) {
        const int32_t c = decodeAt(s, i, n);
        if (c < 0 || !(i == 0 ? isNameStart(c) : isNameChar(c))) return false;
    }
    return true;
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// "_x" + 4 or 8 hex digits + "_" at `i`: what a decoder would take for an
// escape, so a literal underscore there is escaped itself.
bool looksLikeEscape(std::string_view s, size_t i) {
    if (i + 1 >= s.size() || s[i] != '_' || s[i + 1] != 'x') return false;
    for (size_t digits : {size_t{4}, size_t{8}}) {
        if (i + 2 + digits >= s.size()) continue;
        bool hex = true;
        for (size_t k = 0; k < digits && hex; ++k) hex = isHex(s[i + 2 + k]);
        if (hex && s[i + 2 + digits] == '_') return true;
    }
    return false;
}

void appendEscape(std::string& out, uint32_t cp) {
    static const char* const kDigits = "0123456789ABCDEF";
    const int width = cp > 0xFFFF ? 8 : 4;
    out += "_x";
    for (int shift = (width - 1) * 4; shift >= 0; shift -= 4)
        out.push_back(kDigits[(cp >> shift) & 0xF]);
    out.push_back('_');
}

// Quotes the text appended since `start` in place; only a field holding a
// quote is copied.
void quoteAppended(std::string& out, size_t start, std::string& scratch) {
    if (out.find('"', start) == std::string::npos) {
        out.insert(out.begin() + static_cast<std::ptrdiff_t>(start), '"');
        out.push_back('"');
        return;
    }
    scratch.assign(out, start, std::string::npos);
    out.resize(start);
    appendQuotedCsv(out, scratch);
}

// One pass over the bytes with a table: find_first_of searches the set once
// per byte, which dominated exporting.
struct ByteSet {
    bool has[256] = {};
    constexpr explicit ByteSet(std::string_view chars) {
        for (char c : chars) has[static_cast<unsigned char>(c)] = true;
    }
    bool anyIn(std::string_view s) const {
        for (char c : s)
            if (has[static_cast<unsigned char>(c)]) return true;
        return false;
    }
};
constexpr ByteSet kCsvSpecial(",\"\r\n");
constexpr ByteSet kTabSpecial("\t\r\n\\");

bool needsMinimalQuotes(std::string_view s) {
    return kCsvSpecial.anyIn(s);
}

bool plainXmlText(std::string_view s) {
    for (char ch : s) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20 || b >= 0x7F || b == '&' || b == '<' || b == '>') return false;
    }
    return true;
}

class DocumentWriter {
public:
    DocumentWriter(DocumentKind kind, TableRows& rows, OutputStream& out)
        : m_kind(kind), m_rows(rows), m_out(out) {}

    Status run() {
        std::string& b = m_out.buffer();
        if (m_kind == DocumentKind::GridXml) {
            b += "<xml>";
            b += kCrLf;
        } else {
            line([&](size_t c, std::string& o) { m_rows.appendCaption(c, o); });
        }
        while (true) {
            auto more = m_rows.nextRow();
            if (!more.ok()) return more.error();
            if (!*more) break;
            if (m_kind == DocumentKind::GridXml)
                xmlRow();
            else
                line([&](size_t c, std::string& o) { m_rows.appendCell(c, o); });
            if (auto st = m_out.maybeFlush(); !st.ok()) return st;
        }
        if (m_kind == DocumentKind::GridXml) b += "</xml>";
        return m_out.flush();
    }

private:
    template <class Read>
    void line(const Read& read) {
        std::string& b = m_out.buffer();
        const size_t columns = m_rows.columnCount();
        for (size_t c = 0; c < columns; ++c) {
            if (c > 0 && m_kind != DocumentKind::GridText)
                b.push_back(m_kind == DocumentKind::GridCsv || m_kind == DocumentKind::MinimalCsv
                                ? ','
                                : '\t');
            const size_t start = b.size();
            read(c, b);
            switch (m_kind) {
                case DocumentKind::GridCsv:
                    quoteAppended(b, start, m_scratch);
                    break;
                case DocumentKind::GridText:
                    b.push_back('\t');
                    break;
                case DocumentKind::MinimalCsv:
                    if (needsMinimalQuotes(std::string_view(b).substr(start))) {
                        m_scratch.assign(b, start, std::string::npos);
                        b.resize(start);
                        appendMinimalCsv(b, m_scratch);
                    }
                    break;
                case DocumentKind::EscapedTabs:
                    if (kTabSpecial.anyIn(std::string_view(b).substr(start))) {
                        m_scratch.assign(b, start, std::string::npos);
                        b.resize(start);
                        appendEscapedTab(b, m_scratch);
                    }
                    break;
                case DocumentKind::GridXml:
                    break;
            }
        }
        // The command-line tool's tab-separated text has Unix line ends.
        if (m_kind == DocumentKind::EscapedTabs)
            b.push_back('\n');
        else
            b += kCrLf;
    }

    void xmlRow() {
        std::string& b = m_out.buffer();
        const size_t columns = m_rows.columnCount();
        if (m_names.size() != columns) {
            m_names.assign(columns, std::string());
            for (size_t c = 0; c < columns; ++c) {
                m_scratch.clear();
                m_rows.appendCaption(c, m_scratch);
                appendXmlName(m_names[c], m_scratch);
            }
        }
        b += "<row>";
        b += kCrLf;
        for (size_t c = 0; c < columns; ++c) {
            b.push_back('<');
            b += m_names[c];
            b.push_back('>');
            const size_t start = b.size();
            m_rows.appendCell(c, b);
            if (!plainXmlText(std::string_view(b).substr(start))) {
                m_scratch.assign(b, start, std::string::npos);
                b.resize(start);
                appendXmlText(b, m_scratch);
            }
            b += "</";
            b += m_names[c];
            b.push_back('>');
            b += kCrLf;
        }
        b += "</row>";
        b += kCrLf;
    }

    DocumentKind m_kind;
    TableRows& m_rows;
    OutputStream& m_out;
    std::string m_scratch;
    std::vector<std::string> m_names;
};

}  // namespace

void appendQuotedCsv(std::string& out, std::string_view text) {
    out.push_back('"');
    for (char ch : text) {
        if (ch == '"') out.push_back('"');
        out.push_back(ch);
    }
    out.push_back('"');
}

void appendMinimalCsv(std::string& out, std::string_view text) {
    if (needsMinimalQuotes(text))
        appendQuotedCsv(out, text);
    else
        out += text;
}

void appendEscapedTab(std::string& out, std::string_view text) {
    for (char ch : text) {
        switch (ch) {
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out.push_back(ch);
        }
    }
}

void appendXmlText(std::string& out, std::string_view text) {
    for (size_t i = 0, n = 0; i < text.size(); i += n) {
        const int32_t c = decodeAt(text, i, n);
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\r':
                // A parser turns a literal CR LF into LF.
                out += "&#13;";
                break;
            case '\t':
            case '\n':
                out.push_back(static_cast<char>(c));
                break;
            default:
                if (c < 0x20 || c == 0xFFFE || c == 0xFFFF)
                    out += kReplacement;
                else
                    out.append(text.substr(i, n));
        }
    }
}

void appendXmlName(std::string& out, std::string_view caption) {
    if (validName(caption)) {
        out += caption;
        return;
    }
    if (caption.empty()) {
        out.push_back('_');
        return;
    }
    for (size_t i = 0, n = 0; i < caption.size(); i += n) {
        const int32_t c = decodeAt(caption, i, n);
        if (c < 0)
            appendEscape(out, 0xFFFD);
        else if (c == '_' && looksLikeEscape(caption, i))
            appendEscape(out, '_');
        else if (i == 0 ? isNameStart(c) : isNameChar(c))
            out.append(caption.substr(i, n));
        else
            appendEscape(out, static_cast<uint32_t>(c));
    }
}

bool isXmlName(std::string_view text) {
    return validName(text);
}

Status writeDocument(DocumentKind kind, TableRows& rows, OutputStream& out) {
    return DocumentWriter(kind, rows, out).run();
}

Status writeDocumentFile(DocumentKind kind, TableRows& rows, const std::string& path,
                         unsigned newMode) {
    OutputFile file;
    if (auto st = file.open(path, newMode); !st.ok()) return st;
    if (auto st = writeDocument(kind, rows, file.stream()); !st.ok()) return st;
    return file.commit();
}

Status writeTextFile(std::string_view text, const std::string& path, unsigned newMode) {
    OutputFile file;
    if (auto st = file.open(path, newMode); !st.ok()) return st;
    file.stream().append(text);
    return file.commit();
}

}  // namespace tab::writers
