// The text documents a result is handed on as. All are UTF-8 without a
// byte-order mark, read the rows once in order, and stream: memory does not
// grow with the rows.
//
// The grid's documents (CR LF after every line):
//   CSV   every caption and value in double quotes, a quote inside doubled
//   text  every field followed by a TAB, nothing quoted
//   XML   <xml>, one <row> per row with one element per column, </xml>
// The command-line tool's own forms:
//   RFC 4180 CSV quoting only what needs it; tab-separated text with TAB, CR,
//   LF and backslash escaped.
#pragma once

#include <string>
#include <string_view>

#include "tabulary/base/error.h"
#include "tabulary/writers/output_file.h"
#include "tabulary/writers/table_rows.h"

namespace tab::writers {

enum class DocumentKind { GridCsv, GridText, GridXml, MinimalCsv, EscapedTabs };

Status writeDocument(DocumentKind kind, TableRows& rows, OutputStream& out);

// The document written to `path` through OutputFile: all of it or nothing.
Status writeDocumentFile(DocumentKind kind, TableRows& rows, const std::string& path,
                         unsigned newMode = 0666);
// A whole text, unchanged.
Status writeTextFile(std::string_view text, const std::string& path, unsigned newMode = 0666);

// The pieces, for tests and other writers.
void appendQuotedCsv(std::string& out, std::string_view text);  // always quoted
void appendMinimalCsv(std::string& out, std::string_view text);
void appendEscapedTab(std::string& out, std::string_view text);
// Text content: & < > escaped, CR as &#13;, what XML 1.0 cannot hold (other
// C0 controls, U+FFFE, U+FFFF, malformed UTF-8) as U+FFFD.
void appendXmlText(std::string& out, std::string_view text);
// An element name: a valid name without colon unchanged, otherwise each
// character a name cannot hold (at its place) as _xHHHH_, as Microsoft's
// XML exports encode names.
void appendXmlName(std::string& out, std::string_view caption);
// A name XML 1.0 takes as an element name, without a colon.
bool isXmlName(std::string_view text);

}  // namespace tab::writers
