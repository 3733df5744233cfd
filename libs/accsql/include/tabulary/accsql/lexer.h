// The tokenizer: Access SQL text to tokens. No comments exist in Access SQL,
// so "--" is two minus signs and "/*" is an error.
#pragma once

#include <string_view>
#include <vector>

#include "tabulary/accsql/token.h"

namespace tab::accsql {

// Tokens of sql[begin, end). The last token is End, or Invalid at the first
// lexical error (nothing after it is scanned).
std::vector<Token> tokenize(std::string_view sql, size_t begin, size_t end);
inline std::vector<Token> tokenize(std::string_view sql) {
    return tokenize(sql, 0, sql.size());
}

// A regular identifier can be printed without brackets.
bool isRegularIdentifier(std::string_view name);

}  // namespace tab::accsql
