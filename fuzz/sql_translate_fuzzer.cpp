// Fuzz target: the input is Access SQL, run on a small database the writer
// makes on the first call. Whatever fails must say why, and SQLite must never
// refuse what the translator made of it; whatever runs must give the same
// rows with and without the index lookups.
//
// With TABULARY_SQL_EXPECT_ERRORS set (the replay of the malformed seeds),
// every input must fail; with TABULARY_SQL_TRACE each prints its row count
// or error.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tabulary/ado/connection.h"
#include "tabulary/ado/query.h"
#include "tabulary/jet/writer.h"
#include "tabulary/script/create_script.h"

using namespace tab;

namespace {

// Three tables with names that need brackets, every common type, Nulls and
// indexes. Doubles and Singles are binary fractions so that sums do not
// depend on the order rows are read in.
constexpr std::string_view kFixture = R"sql(
CREATE TABLE Customers (
  CustomerID     COUNTER PRIMARY KEY,
  [Company Name] TEXT(40) NOT NULL,
  City           TEXT(30),
  Joined         DATETIME,
  Active         YESNO,
  Rating         DOUBLE,
  Notes          MEMO
);
CREATE INDEX ByCity ON Customers (City);

CREATE TABLE Products (
  ProductID      COUNTER PRIMARY KEY,
  [Product Name] TEXT(50) NOT NULL,
  [Unit Price]   CURRENCY,
  Stock          SHORT,
  Weight         SINGLE,
  Discontinued   YESNO,
  Tax            DECIMAL(12, 4)
);
CREATE UNIQUE INDEX ByName ON Products ([Product Name]);

CREATE TABLE [Order Lines] (
  LineID       COUNTER PRIMARY KEY,
  CustomerID   LONG NOT NULL,
  ProductID    LONG,
  Quantity     LONG,
  [Order Date] DATETIME,
  Price        CURRENCY,
  Shipped      YESNO,
  Comment      TEXT(100)
);
CREATE INDEX ByCustomer ON [Order Lines] (CustomerID);
CREATE INDEX ByDate ON [Order Lines] ([Order Date] DESC, ProductID);

INSERT INTO Customers ([Company Name], City, Joined, Active, Rating, Notes) VALUES
  ('Alder & Sons', 'Bristol', #2019-03-04#, TRUE, 4.5, 'Pays on time.'),
  ('Brix Papier', 'Köln', #2020-11-30 08:15:00#, TRUE, 3.25, NULL),
  ('Cerulean Ink', 'Athens', #2021-01-01#, FALSE, NULL, 'Invoices in English; office in Αθήνα.'),
  ('Dunmore Books', NULL, NULL, FALSE, 2, NULL),
  ('O''Hara Ltd', 'Bristol', #1999-12-31 23:59:59#, TRUE, 5, ''),
  ('alder & sons', 'bristol', #2024-02-29#, TRUE, 0.75, 'Same name, other case.'),
  ('Zeta 100%', 'Oslo', #1900-01-01#, FALSE, -1.5, 'Percent [sign] and _under_score'),
  ('Nulls Inc', NULL, NULL, FALSE, NULL, NULL);

INSERT INTO Products ([Product Name], [Unit Price], Stock, Weight, Discontinued, Tax) VALUES
  ('Blue Ink', 4.99, 120, 0.25, FALSE, 0.19),
  ('Black Ink', 4.99, 0, 0.25, FALSE, 0.19),
  ('Paper A4', 12.5, 40, 2.5, FALSE, -3.0001),
  ('Paper A3', 21.0001, NULL, 5, TRUE, NULL),
  ('Stapler', 9.95, 7, 0.5, FALSE, 10),
  ('Pencil', 0.3, -2, 0.0625, FALSE, 99999999.9999),
  ('Eraser', NULL, 15, NULL, TRUE, 0),
  ('Ruler 30cm', 1.2, 300, 0.125, FALSE, 9);

INSERT INTO [Order Lines] (CustomerID, ProductID, Quantity, [Order Date], Price, Shipped, Comment) VALUES
  (1, 1, 10, #2025-01-06 09:30:00#, 49.9, TRUE, 'first order'),
  (1, 3, 2, #2025-01-06 09:30:00#, 25, TRUE, NULL),
  (2, 2, 1, #2025-01-07#, 4.99, TRUE, 'rush'),
  (2, 5, 3, #2025-02-11 14:05:00#, 29.85, FALSE, NULL),
  (3, 4, 1, #2025-03-01#, 21.0001, FALSE, 'Rush'),
  (3, NULL, NULL, NULL, NULL, FALSE, 'no product yet'),
  (4, 6, 100, #2024-12-24#, 30, TRUE, ''),
  (5, 7, 5, #2024-12-24#, NULL, TRUE, NULL),
  (5, 8, 1, #2023-06-15 12:00:00#, 1.2, FALSE, 'ruler'),
  (6, 1, 4, #2025-01-06#, 19.96, TRUE, 'FIRST ORDER'),
  (7, 2, 7, #2025-05-05#, 34.93, FALSE, '50% off'),
  (1, 2, 6, #2025-05-06#, 29.94, TRUE, NULL),
  (2, 3, 8, #2025-05-07#, 100, TRUE, 'a[b]c'),
  (3, 3, 1, #2025-05-08#, 12.5, FALSE, NULL),
  (4, 4, 2, #2025-05-09#, 42.0002, TRUE, 'two'),
  (6, 5, 1, #2025-05-10#, 9.95, FALSE, NULL),
  (7, 6, 12, #2025-05-11#, 3.6, TRUE, 'pencils'),
  (1, 7, 3, #2025-05-12#, NULL, FALSE, NULL),
  (2, 8, 2, #2025-05-13#, 2.4, TRUE, 'x'),
  (9, 1, 1, #2025-05-14#, 4.99, FALSE, 'customer 9 does not exist'),
  (5, 1, 0, #2025-05-15#, 0, FALSE, NULL),
  (6, 3, -1, #2025-05-16#, -12.5, TRUE, 'return'),
  (7, 99, 1, #2025-05-17#, 1, FALSE, 'product 99 does not exist'),
  (1, 1, 10, #2025-01-06 09:30:00#, 49.9, TRUE, 'first order');
)sql";

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

std::string fixturePath() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/sql-translate-fuzz-" +
           std::to_string(::getpid()) + ".mdb";
}

ado::Connection& fixture() {
    static ado::Connection* connection = [] {
        const std::string path = fixturePath();
        jet::CreateOptions options;
        options.durable = false;
        options.objectDate = 46000;
        auto writer = jet::DatabaseWriter::create(path, options);
        if (!writer.ok()) die("cannot create " + path + ": " + writer.error().message());
        auto stats = script::runCreateScript(**writer, kFixture);
        if (!stats.ok()) die("fixture script: " + stats.error().message());
        auto finished = (*writer)->finish();
        if (!finished.ok()) die("fixture finish: " + finished.error().message());
        auto* c = new ado::Connection;
        auto opened = c->openFile(path, "");
        if (!opened.ok()) die("fixture does not open: " + opened.error().message());
        // The connection holds the database; the name can go now.
        ::unlink(path.c_str());
        return c;
    }();
    return *connection;
}

bool containsWord(std::string_view text, std::string_view word) {
    auto lower = [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    for (size_t i = 0; i + word.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < word.size() && lower(text[i + k]) == word[k]) ++k;
        if (k == word.size()) return true;
    }
    return false;
}

// One row as a byte string, so that two results compare as sorted lists.
std::string rowKey(const std::vector<jet::Value>& row) {
    std::string key;
    for (const jet::Value& v : row) {
        key += static_cast<char>(v.kind());
        const int64_t i = v.asInt(), i2 = v.asInt2();
        const double d = v.asDouble();
        key.append(reinterpret_cast<const char*>(&i), sizeof i);
        key.append(reinterpret_cast<const char*>(&i2), sizeof i2);
        key.append(reinterpret_cast<const char*>(&d), sizeof d);
        const jet::Decimal& dec = v.asDecimal();
        if (v.kind() == jet::Value::Kind::Decimal) {
            key.append(reinterpret_cast<const char*>(&dec.hi), sizeof dec.hi);
            key.append(reinterpret_cast<const char*>(&dec.lo), sizeof dec.lo);
            key += static_cast<char>(dec.scale);
            key += static_cast<char>(dec.negative);
        }
        const size_t n = v.bytes().size();
        key.append(reinterpret_cast<const char*>(&n), sizeof n);
        key += v.bytes();
    }
    return key;
}

struct Outcome {
    bool ok = false;
    std::string message;
    std::vector<std::string> rows;  // sorted
};

Outcome run(std::string_view sql, bool useIndexes) {
    ado::QueryOptions options;
    options.useIndexes = useIndexes;
    options.now = [] { return 45678.5; };
    Outcome out;
    auto fail = [&](const Error& e) {
        if (e.message().empty()) die("error without a message");
        // Internal means one of our own invariants broke, whatever the input.
        if (e.code() == Errc::Internal) die("internal error: " + e.message());
        out.message = e.message();
        return out;
    };
    auto rs = ado::openRecordset(fixture(), sql, options);
    if (!rs.ok()) return fail(rs.error());
    if (Status filled = rs->fill(); !filled.ok()) return fail(filled.error());
    std::vector<jet::Value> row(rs->fields().size());
    for (size_t r = 0; r < rs->rowCount(); ++r) {
        for (size_t f = 0; f < row.size(); ++f) row[f] = rs->cell(r, f);
        out.rows.push_back(rowKey(row));
    }
    std::sort(out.rows.begin(), out.rows.end());
    out.ok = true;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Large enough for the long malformed seeds; the fuzzer itself runs with -max_len=4096.
    if (size > 128 * 1024) return 0;
    static const bool expectErrors = std::getenv("TABULARY_SQL_EXPECT_ERRORS") != nullptr;
    const std::string_view sql(reinterpret_cast<const char*>(data), size);
    const Outcome first = run(sql, true);
    static const bool trace = std::getenv("TABULARY_SQL_TRACE") != nullptr;
    if (trace)
        std::fprintf(stderr, "  %s\n",
                     first.ok ? (std::to_string(first.rows.size()) + " rows").c_str()
                              : first.message.c_str());
    if (expectErrors && first.ok) die("a malformed statement ran");
    if (!first.ok) return 0;

    // Random numbers and the clock depend on how many rows were looked at.
    if (containsWord(sql, "rnd") || containsWord(sql, "timer")) return 0;
    const Outcome second = run(sql, false);
    if (!second.ok) die("fails only without the indexes: " + second.message);
    if (first.rows.size() != second.rows.size())
        die("row count changes without the indexes: " + std::to_string(first.rows.size()) +
            " with, " + std::to_string(second.rows.size()) + " without");
    // Which rows TOP keeps, First and Last, and rounding in the deviations
    // may follow the reading order.
    for (std::string_view w : {"top", "first", "last", "stdev", "var"})
        if (containsWord(sql, w)) return 0;
    if (first.rows != second.rows) die("rows change without the indexes");
    return 0;
}
