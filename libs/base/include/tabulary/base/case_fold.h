// Text and names compared as Access compares them: without regard to case
// over full Unicode case folding (ICU's default mappings, so "ß" matches
// "SS" and "Σ", "σ" and "ς" are one letter), with accents counting ("Ä" is
// not "A"). Folded text compares in code point order, so the order is total.
// ASCII and Latin-1 take a path that needs no ICU call.
#pragma once

#include <string>
#include <string_view>

namespace tab {

// <0, 0 or >0: the order of text values. Bad UTF-8 compares as if each bad
// sequence were U+FFFD.
int compareIgnoringCase(std::string_view a, std::string_view b);

// The same order by folding both strings whole, without the shortcuts
// compareIgnoringCase takes for shared prefixes and Latin-1 text.
int compareIgnoringCaseByFolding(std::string_view a, std::string_view b);

// Whether two table, column, query, alias or parameter names are one name.
// A byte that is not part of valid UTF-8 matches only the same byte, so
// different names never become one through bad text.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// A key for maps of names: two names get the same key exactly when
// equalsIgnoringCase holds. ASCII names get their lower case; other keys
// need not be valid UTF-8.
std::string foldedCase(std::string_view name);

}  // namespace tab
