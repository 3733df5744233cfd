// Financial functions (Pmt, PV, FV, NPer, Rate, IPmt, PPmt, SLN, SYD,
// DDB) with VBA's argument order, sign convention (cash paid out is
// negative) and error conditions. `due` is the type argument: payments at
// the beginning of each period instead of the end.
#include <algorithm>
#include <cmath>

#include "internal.h"

namespace tab::sqlbridge::detail {

namespace {

// Value of the annuity equation pv*(1+r)^n + pmt*(1+r*due)*((1+r)^n-1)/r + fv;
// every function below solves it for one of its terms.
double annuityBalance(double rate, double nper, double pmt, double pv, double fv, bool due) {
    if (rate == 0) return pv + pmt * nper + fv;
    const double g = std::pow(1 + rate, nper);
    return pv * g + pmt * (due ? 1 + rate : 1) * (g - 1) / rate + fv;
}

}  // namespace

double finPmt(double rate, double nper, double pv, double fv, bool due) {
    if (nper == 0) fail(Category::InvalidCall, "nper");
    if (rate == 0) return (-fv - pv) / nper;
    const double g = std::pow(1 + rate, nper);
    const double denom = (due ? 1 + rate : 1) * (g - 1);
    if (denom == 0) fail(Category::InvalidCall, "rate");
    return (-fv - pv * g) / denom * rate;
}

double finFv(double rate, double nper, double pmt, double pv, bool due) {
    if (rate == 0) return -pv - pmt * nper;
    const double g = std::pow(1 + rate, nper);
    return -pv * g - pmt / rate * (due ? 1 + rate : 1) * (g - 1);
}

double finPv(double rate, double nper, double pmt, double fv, bool due) {
    if (rate == 0) return -fv - pmt * nper;
    const double g = std::pow(1 + rate, nper);
    if (g == 0) fail(Category::InvalidCall, "rate");
    return -(fv + pmt * (due ? 1 + rate : 1) * ((g - 1) / rate)) / g;
}

double finNPer(double rate, double pmt, double pv, double fv, bool due) {
    if (rate <= -1) fail(Category::InvalidCall, "rate");
    if (rate == 0) {
        if (pmt == 0) fail(Category::InvalidCall, "pmt");
        return -(pv + fv) / pmt;
    }
    // (1+r)^n = (pmt*(1+r*due)/r - fv) / (pmt*(1+r*due)/r + pv)
    const double t = pmt * (due ? 1 + rate : 1) / rate;
    double num = t - fv, den = t + pv;
    if (num < 0 && den < 0) {
        num = -num;
        den = -den;
    } else if (num <= 0 || den <= 0) {
        fail(Category::InvalidCall, "no number of periods solves these values");
    }
    return (std::log(num) - std::log(den)) / std::log(1 + rate);
}

double finIPmt(double rate, double per, double nper, double pv, double fv, bool due) {
    if (per <= 0 || per >= nper + 1) fail(Category::InvalidCall, "per");
    if (due && per == 1) return 0;  // paid before any interest accrued
    const double pmt = finPmt(rate, nper, pv, fv, due);
    // Interest of a period is the rate times the balance it starts with.
    const double start = due ? pv + pmt : pv;
    return finFv(rate, per - (due ? 2 : 1), pmt, start, false) * rate;
}

double finPPmt(double rate, double per, double nper, double pv, double fv, bool due) {
    if (per <= 0 || per >= nper + 1) fail(Category::InvalidCall, "per");
    return finPmt(rate, nper, pv, fv, due) - finIPmt(rate, per, nper, pv, fv, due);
}

double finRate(double nper, double pmt, double pv, double fv, bool due, double guess) {
    if (nper <= 0) fail(Category::InvalidCall, "nper");
    // Secant iteration from the guess; accepted once the equation is within
    // 1e-7, then refined while that still improves it.
    auto f = [&](double r) { return annuityBalance(r, nper, pmt, pv, fv, due); };
    double r0 = guess, y0 = f(r0);
    double r1 = y0 > 0 ? r0 / 2 : r0 * 2, y1 = f(r1);
    constexpr double kStep = 1e-5, kEpsilon = 1e-7;
    for (int i = 0; i < 40; ++i) {
        if (!std::isfinite(y0) || !std::isfinite(y1)) break;
        if (y1 == y0) {
            r0 += r1 > r0 ? -kStep : kStep;
            y0 = f(r0);
            if (y1 == y0) break;
        }
        const double r2 = r1 - (r1 - r0) * y1 / (y1 - y0);
        const double y2 = f(r2);
        r0 = r1;
        y0 = y1;
        r1 = r2;
        y1 = y2;
        if (std::fabs(y1) < kEpsilon) {
            for (int k = 0; k < 8 && y1 != 0 && y1 != y0; ++k) {
                const double r3 = r1 - (r1 - r0) * y1 / (y1 - y0);
                const double y3 = f(r3);
                if (!(std::fabs(y3) < std::fabs(y1))) break;
                r0 = r1;
                y0 = y1;
                r1 = r3;
                y1 = y3;
            }
            return r1;
        }
    }
    fail(Category::InvalidCall, "Rate did not converge");
}

double finSln(double cost, double salvage, double life) {
    if (life == 0) fail(Category::InvalidCall, "life");
    return (cost - salvage) / life;
}

double finSyd(double cost, double salvage, double life, double period) {
    if (salvage < 0) fail(Category::InvalidCall, "salvage");
    if (period > life) fail(Category::InvalidCall, "period after life");
    if (period <= 0) fail(Category::InvalidCall, "period");
    return (cost - salvage) / (life * (life + 1)) * (life + 1 - period) * 2;
}

double finDdb(double cost, double salvage, double life, double period, double factor) {
    if (factor <= 0 || salvage < 0 || period <= 0 || period > life)
        fail(Category::InvalidCall, "depreciation arguments");
    if (cost <= 0) return 0;
    if (life < 2) return cost - salvage;
    if (life == 2) return period > 1 ? 0 : cost - salvage;
    if (period <= 1) return std::min(cost * factor / life, cost - salvage);
    // The book value shrinks by factor/life each period; depreciation stops
    // where it would take the value below salvage.
    const double keep = (life - factor) / life;
    double dep = factor * cost / life * std::pow(keep, period - 1);
    const double excess = cost * (1 - std::pow(keep, period)) - cost + salvage;
    if (excess > 0) dep -= excess;
    if (std::isnan(dep)) fail(Category::InvalidCall, "factor");
    return dep >= 0 ? dep : 0;
}

}  // namespace tab::sqlbridge::detail
