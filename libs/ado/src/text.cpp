#include "tabulary/ado/text.h"

#include "tabulary/accsql/lexer.h"
#include "tabulary/jet/value_text.h"
#include "tabulary/sqlbridge/collation.h"

namespace tab::ado {

std::string valueText(const jet::Value& value) {
    return jet::valueToText(value);
}

void appendValueText(std::string& out, const jet::Value& value) {
    jet::appendValueText(out, value);
}

std::string quoteName(std::string_view name) {
    const bool bare = !name.empty() && !(name.front() >= '0' && name.front() <= '9') &&
                      accsql::isRegularIdentifier(name);
    if (bare) return std::string(name);
    std::string quoted;
    quoted.reserve(name.size() + 2);
    quoted += '[';
    quoted += name;
    quoted += ']';
    return quoted;
}

int compareNames(std::string_view a, std::string_view b) {
    return sqlbridge::compareAccessText(a, b);
}

}  // namespace tab::ado
