// Any captions and cells through the grid's CSV and XML writers: the CSV
// must read back as exactly the fields, and the XML must hold only its own
// markup, well-formed names and escaped text in valid UTF-8.
//
// Input: the first byte is the column count (1 + byte % 6); the rest,
// split at NUL bytes, are the captions and then the cells row by row.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tabulary/writers/text_documents.h"

using namespace tab;
using namespace tab::writers;

namespace {

class FieldRows : public TableRows {
public:
    FieldRows(size_t columns, std::vector<std::string> fields)
        : m_columns(columns), m_fields(std::move(fields)) {}
    size_t columnCount() override { return m_columns; }
    void appendCaption(size_t c, std::string& out) override { out += field(c); }
    Result<bool> nextRow() override { return ++m_row * m_columns < m_fields.size(); }
    void appendCell(size_t c, std::string& out) override { out += field(m_row * m_columns + c); }
    size_t rows() const { return (m_fields.size() + m_columns - 1) / m_columns; }
    std::string_view field(size_t i) const {
        return i < m_fields.size() ? std::string_view(m_fields[i]) : std::string_view();
    }

private:
    size_t m_columns;
    std::vector<std::string> m_fields;
    size_t m_row = 0;
};

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "writers_fuzzer: %s\n", what);
    std::abort();
}

// RFC 4180 as Python's csv reads it, every field quoted.
std::vector<std::vector<std::string>> readCsv(std::string_view doc) {
    std::vector<std::vector<std::string>> lines;
    size_t i = 0;
    while (i < doc.size()) {
        std::vector<std::string> line;
        while (true) {
            if (i < doc.size() && doc[i] == '"') {
                std::string f;
                ++i;
                while (true) {
                    if (i >= doc.size()) broken("unterminated quote");
                    if (doc[i] == '"') {
                        if (i + 1 < doc.size() && doc[i + 1] == '"') {
                            f.push_back('"');
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    f.push_back(doc[i++]);
                }
                line.push_back(f);
            }
            if (i < doc.size() && doc[i] == ',') {
                ++i;
                continue;
            }
            if (doc.substr(i, 2) != "\r\n") broken("no line end after a field");
            i += 2;
            break;
        }
        lines.push_back(line);
    }
    return lines;
}

size_t utf8Length(std::string_view s, size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    const size_t n = b < 0x80             ? 1
                     : (b & 0xE0) == 0xC0 ? 2
                     : (b & 0xF0) == 0xE0 ? 3
                     : (b & 0xF8) == 0xF0 ? 4
                                          : 0;
    if (n == 0 || i + n > s.size()) broken("malformed UTF-8");
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) broken("malformed UTF-8");
    return n;
}

void checkXml(std::string_view doc) {
    for (size_t i = 0; i < doc.size(); i += utf8Length(doc, i)) {
        const char ch = doc[i];
        if (ch == '<') {
            const size_t close = doc.find('>', i);
            if (close == std::string_view::npos) broken("open tag");
            std::string_view name = doc.substr(i + 1, close - i - 1);
            if (!name.empty() && name[0] == '/') name.remove_prefix(1);
            if (!isXmlName(name)) broken("tag name");
            i = close;  // the loop steps over '>'
        } else if (ch == '&') {
            const std::string_view rest = doc.substr(i);
            if (rest.rfind("&amp;", 0) != 0 && rest.rfind("&lt;", 0) != 0 &&
                rest.rfind("&gt;", 0) != 0 && rest.rfind("&#13;", 0) != 0)
                broken("bare ampersand");
        } else if (ch == '>') {
            broken("bare >");
        } else if (ch == '\r') {
            if (doc.substr(i, 2) != "\r\n") broken("lone CR");
        } else if (static_cast<unsigned char>(ch) < 0x20 && ch != '\t' && ch != '\n') {
            broken("control character");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t columns = 1 + data[0] % 6;
    std::vector<std::string> fields(1);
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0)
            fields.emplace_back();
        else
            fields.back().push_back(static_cast<char>(data[i]));
    }
    {
        FieldRows rows(columns, fields);
        OutputStream out;
        if (!writeDocument(DocumentKind::GridCsv, rows, out).ok()) broken("CSV failed");
        const auto lines = readCsv(out.buffer());
        if (lines.size() != rows.rows()) broken("line count");
        for (size_t l = 0; l < lines.size(); ++l) {
            if (lines[l].size() != columns) broken("field count");
            for (size_t c = 0; c < columns; ++c)
                if (lines[l][c] != rows.field(l * columns + c)) broken("field text");
        }
    }
    {
        FieldRows rows(columns, fields);
        OutputStream out;
        if (!writeDocument(DocumentKind::GridXml, rows, out).ok()) broken("XML failed");
        checkXml(out.buffer());
    }
    return 0;
}
