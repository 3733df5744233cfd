// registerAccessFunctions: every family's table (calls.h) registered with
// SQLite through one trampoline, which hands the body a Ctx and turns an
// AccessError into sqlite3_result_error; then the $ forms and the
// aggregates.
#include <array>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <span>
#include <string>

#include "calls.h"

namespace tab::sqlbridge {

using namespace detail;

namespace {

struct Entry {
    Body body;
    int minArgs;
    std::shared_ptr<const State> state;
    bool nullIsError = false;  // the String-returning $ forms
};

void trampoline(sqlite3_context* c, int argc, sqlite3_value** argv) {
    auto* e = static_cast<Entry*>(sqlite3_user_data(c));
    Ctx ctx{c, argc, argv, *e->state};
    try {
        if (argc < e->minArgs) fail(Category::InvalidCall, "wrong number of arguments");
        if (e->nullIsError)
            for (int i = 0; i < argc; ++i)
                if (ctx.isNull(i)) fail(Category::InvalidUseOfNull);
        e->body(ctx);
    } catch (const AccessError& err) {
        sqlite3_result_error(c, errorMessage(err).c_str(), -1);
    } catch (const std::bad_alloc&) {
        sqlite3_result_error_nomem(c);
    } catch (const std::exception& ex) {
        sqlite3_result_error(c, ex.what(), -1);
    }
}

// String-returning $ forms registered as acc_<name>_s: the plain function,
// except that a Null argument raises "Invalid use of Null".
struct StringForm {
    const char* name;
    const char* plain;
};

const StringForm kStringForms[] = {
    {"acc_left_s", "acc_left"},     {"acc_right_s", "acc_right"}, {"acc_mid_s", "acc_mid"},
    {"acc_ucase_s", "acc_ucase"},   {"acc_lcase_s", "acc_lcase"}, {"acc_trim_s", "acc_trim"},
    {"acc_ltrim_s", "acc_ltrim"},   {"acc_rtrim_s", "acc_rtrim"}, {"acc_space_s", "acc_space"},
    {"acc_string_s", "acc_string"}, {"acc_chr_s", "acc_chr"},     {"acc_chrw_s", "acc_chrw"},
    {"acc_str_s", "acc_str"},       {"acc_hex_s", "acc_hex"},     {"acc_oct_s", "acc_oct"},
};

const std::array<std::span<const Def> (*)(), 7> kFamilies = {
    operatorFunctions, conversionFunctions, mathFunctions,   stringFunctions,
    dateFunctions,     currencyFunctions,   decimalFunctions};

const Def* findFunction(const char* name) {
    for (auto family : kFamilies)
        for (const Def& f : family())
            if (std::strcmp(f.name, name) == 0) return &f;
    return nullptr;
}

tab::Status sqliteError(sqlite3* db, const char* name) {
    return tab::Error(tab::Errc::Internal,
                      std::string("registering ") + name + ": " + sqlite3_errmsg(db));
}

}  // namespace

tab::Status registerAccessFunctions(sqlite3* db, const FunctionOptions& options) {
    if (db == nullptr) return tab::Error(tab::Errc::InvalidArgument, "no database connection");
    auto state = std::make_shared<State>();
    state->options = options;
    auto add = [&](const Def& f, const char* name, bool nullIsError) {
        const int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
        const int lo = f.maxArgs < 0 ? -1 : f.minArgs;
        const int hi = f.maxArgs < 0 ? -1 : f.maxArgs;
        for (int n = lo; n <= hi; ++n) {
            auto* entry = new Entry{f.body, f.minArgs, state, nullIsError};
            const int rc =
                sqlite3_create_function_v2(db, name, n, flags, entry, trampoline, nullptr, nullptr,
                                           [](void* p) { delete static_cast<Entry*>(p); });
            if (rc != SQLITE_OK) return false;
        }
        return true;
    };
    for (auto family : kFamilies)
        for (const Def& f : family())
            if (!add(f, f.name, false)) return sqliteError(db, f.name);
    for (const StringForm& s : kStringForms) {
        const Def* plain = findFunction(s.plain);
        if (plain == nullptr)
            return tab::Error(tab::Errc::Internal, std::string("no function ") + s.plain);
        if (!add(*plain, s.name, true)) return sqliteError(db, s.name);
    }
    for (auto family : {aggregateFunctions, currencyAggregates, decimalAggregates})
        for (const AggDef& a : family()) {
            const int rc =
                sqlite3_create_function_v2(db, a.name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                           nullptr, nullptr, a.step, a.final, nullptr);
            if (rc != SQLITE_OK) return sqliteError(db, a.name);
        }
    return tab::Status::success();
}

}  // namespace tab::sqlbridge
