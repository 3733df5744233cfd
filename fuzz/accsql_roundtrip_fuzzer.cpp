// Fuzz target: any text through the Access SQL parser. Whatever parses must
// print as SQL that parses to the same tree, and printing that again must give
// the same text; whatever fails must say why.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tabulary/accsql/parser.h"
#include "tabulary/accsql/printer.h"

using namespace tab::accsql;

namespace {

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view sql(reinterpret_cast<const char*>(data), size);
    ParseResult first = parse(sql);
    if (!first.ok()) {
        if (first.diagnostics.empty() || first.diagnostics.front().message.empty())
            die("parse failed without a message");
        (void)first.diagnostics.front().render();
        return 0;
    }
    if (!first.diagnostics.empty()) die("parse succeeded with diagnostics");
    (void)returnsRows(*first.statement);
    const std::string printed = print(*first.statement);
    ParseResult second = parse(printed);
    if (!second.ok())
        die("printed SQL does not parse: " + printed + "\n" + second.diagnostics.front().render());
    if (dump(*second.statement) != dump(*first.statement))
        die("tree changed in the round trip:\n" + dump(*first.statement) + "\n" +
            dump(*second.statement));
    if (print(*second.statement) != printed) die("printing is not stable: " + printed);
    return 0;
}
