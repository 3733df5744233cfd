// Aggregates: First, Last, StDev, StDevP, Var, VarP, and acc_scalar for
// scalar subqueries. These are plain SQLite step/final callbacks, outside
// the Ctx trampoline.
#include <cmath>
#include <cstdint>

#include "calls.h"

namespace tab::sqlbridge::detail {

namespace {

struct KeepValue {
    sqlite3_value* v;
    bool set;
};

template <bool Last>
void keepStep(sqlite3_context* c, int, sqlite3_value** argv) {
    auto* k = static_cast<KeepValue*>(sqlite3_aggregate_context(c, sizeof(KeepValue)));
    if (k == nullptr) return sqlite3_result_error_nomem(c);
    if (k->set && !Last) return;
    sqlite3_value_free(k->v);
    k->v = sqlite3_value_dup(argv[0]);
    if (k->v == nullptr && sqlite3_value_type(argv[0]) != SQLITE_NULL)
        sqlite3_result_error_nomem(c);
    k->set = true;
}

void keepFinal(sqlite3_context* c) {
    auto* k = static_cast<KeepValue*>(sqlite3_aggregate_context(c, 0));
    if (k == nullptr || k->v == nullptr) return sqlite3_result_null(c);
    sqlite3_result_value(c, k->v);
    sqlite3_value_free(k->v);
    k->v = nullptr;
}

// Scalar subquery value: the one row's value, Null for none, an error for
// a second row.
void scalarStep(sqlite3_context* c, int, sqlite3_value** argv) {
    auto* k = static_cast<KeepValue*>(sqlite3_aggregate_context(c, sizeof(KeepValue)));
    if (k == nullptr) return sqlite3_result_error_nomem(c);
    if (k->set)
        return sqlite3_result_error(c, "At most one record can be returned by this subquery.", -1);
    k->v = sqlite3_value_dup(argv[0]);
    if (k->v == nullptr && sqlite3_value_type(argv[0]) != SQLITE_NULL)
        return sqlite3_result_error_nomem(c);
    k->set = true;
}

struct Welford {
    int64_t n;
    double mean, m2;
};

void varStep(sqlite3_context* c, int, sqlite3_value** argv) {
    auto* w = static_cast<Welford*>(sqlite3_aggregate_context(c, sizeof(Welford)));
    if (w == nullptr) return sqlite3_result_error_nomem(c);
    try {
        auto n = toNumber(argv[0]);
        if (!n) return;
        const double v = n->value();
        ++w->n;
        const double delta = v - w->mean;
        w->mean += delta / static_cast<double>(w->n);
        w->m2 += delta * (v - w->mean);
    } catch (const AccessError& e) {
        sqlite3_result_error(c, errorMessage(e).c_str(), -1);
    }
}

template <bool Sample, bool Root>
void varFinal(sqlite3_context* c) {
    auto* w = static_cast<Welford*>(sqlite3_aggregate_context(c, 0));
    const int64_t n = w ? w->n : 0;
    if (n < (Sample ? 2 : 1)) return sqlite3_result_null(c);
    const double var = w->m2 / static_cast<double>(Sample ? n - 1 : n);
    sqlite3_result_double(c, Root ? std::sqrt(var) : var);
}

const AggDef kAggregates[] = {
    {"acc_first", keepStep<false>, keepFinal},    {"acc_last", keepStep<true>, keepFinal},
    {"acc_stdev", varStep, varFinal<true, true>}, {"acc_stdevp", varStep, varFinal<false, true>},
    {"acc_var", varStep, varFinal<true, false>},  {"acc_varp", varStep, varFinal<false, false>},
    {"acc_scalar", scalarStep, keepFinal},
};

}  // namespace

std::span<const AggDef> aggregateFunctions() {
    return kAggregates;
}

}  // namespace tab::sqlbridge::detail
