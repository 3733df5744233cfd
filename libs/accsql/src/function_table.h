// The VBA functions a query may call: how each is emitted and typed.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "tabulary/accsql/translate.h"

namespace tab::accsql {

enum class ResultRule : uint8_t {
    Fixed,       // `type`
    Arg0,        // the first argument's type
    Arg0Number,  // the first argument's type, Yes/No and text as numbers
    Common,      // the common type of the arguments from `commonFrom` on
};

enum FunctionFlags : uint8_t {
    kTextArgs = 1,   // non-text arguments are turned into their text form first
    kTagArg0 = 2,    // the first argument's type tag is passed after it
    kTagLast = 4,    // the first argument's type tag is passed as the last argument
    kAggregate = 8,  // an aggregate
    kVolatile = 16,  // Now(), Rnd(): never folded
};

struct FunctionSpec {
    std::string_view name;    // lower case, as Access spells it
    std::string_view sqlite;  // registered SQLite name
    int8_t minArgs = 0;
    int8_t maxArgs = 0;  // -1: any number
    ResultRule rule = ResultRule::Fixed;
    Type type = Type::Variant;
    uint8_t flags = 0;
    uint8_t commonFrom = 0;
};

// Case-insensitive; null when Access has no such function in queries.
const FunctionSpec* findFunction(std::string_view name);
std::span<const FunctionSpec> allFunctions();

}  // namespace tab::accsql
