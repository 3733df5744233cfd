// make-bench-db: writes the benchmark database, deterministic from a seed.
//   Customer  CustomerID AutoNumber PK, Name Text(50) indexed, City, Country
//   Big       ID AutoNumber PK, CustomerID Long indexed, Name Text(50) indexed,
//             City (some Null), Qty, Price, Amount, Created, Active, Notes (some Null;
//             --notes sets the share of rows that have them, 70% by default)
// Prints how long each part takes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tabulary/jet/writer.h"

using namespace tab;
using namespace tab::jet;

namespace {

const char* kFirst[] = {"Anna",   "Bernd",  "Carla",    "David",   "Elena",  "Frank",  "Greta",
                        "Hugo",   "Irene",  "Jonas",    "Karin",   "Lukas",  "Maria",  "Niklas",
                        "Olga",   "Paul",   "Rosa",     "Stefan",  "Tanja",  "Ulrich", "Vera",
                        "Walter", "Xenia",  "Yusuf",    "Zoé",     "André",  "Björn",  "Chloé",
                        "Dörte",  "Émile",  "François", "Günther", "Hélène", "Inés",   "José",
                        "Léa",    "Mónica", "Noël",     "Søren",   "Åsa"};
const char* kLast[] = {"Adler",      "Becker",  "Castillo", "Dubois", "Eriksen",  "Fischer",
                       "García",     "Hansen",  "Ibáñez",   "Jensen", "Keller",   "Lambert",
                       "Müller",     "Nielsen", "Olsen",    "Peters", "Quintero", "Richter",
                       "Schäfer",    "Thomsen", "Urban",    "Vogel",  "Wagner",   "Young",
                       "Zimmermann", "Øster",   "Brontë",   "Côté",   "Løvland",  "Núñez"};
const char* kCities[] = {
    "Berlin",  "Hamburg", "München",   "Köln",     "Paris",     "Lyon",      "Marseille", "Madrid",
    "Sevilla", "Málaga",  "Lisboa",    "Porto",    "Roma",      "Milano",    "Napoli",    "Wien",
    "Zürich",  "Genève",  "Bruxelles", "Liège",    "Amsterdam", "Utrecht",   "København", "Århus",
    "Oslo",    "Bergen",  "Stockholm", "Göteborg", "Helsinki",  "Reykjavík", "Dublin",    "Cork",
    "London",  "Leeds",   "Kraków",    "Praha",    "Brno",      "Budapest",  "Ljubljana", "Zagreb"};
const char* kCountries[] = {
    "Germany", "France",         "Spain",   "Portugal", "Italy",   "Austria",  "Switzerland",
    "Belgium", "Netherlands",    "Denmark", "Norway",   "Sweden",  "Finland",  "Iceland",
    "Ireland", "United Kingdom", "Poland",  "Czechia",  "Hungary", "Slovenia", "Croatia"};
const char* kWords[] = {"delivery", "late",     "customer", "called",  "invoice", "sent",
                        "again",    "urgent",   "discount", "agreed",  "pallet",  "damaged",
                        "replaced", "on",       "hold",     "until",   "payment", "received",
                        "partial",  "shipment", "ok",       "checked", "by",      "warehouse"};

template <size_t N>
const char* pick(std::mt19937_64& rng, const char* (&list)[N]) {
    return list[rng() % N];
}

std::string notes(std::mt19937_64& rng) {
    std::string s;
    size_t words = 3 + rng() % 40;  // from a few words to a few hundred bytes
    for (size_t i = 0; i < words; ++i) {
        if (i) s += ' ';
        s += pick(rng, kWords);
    }
    return s;
}

ColumnSpec column(const char* name, ColumnType type, uint32_t size = 255, bool counter = false) {
    ColumnSpec c;
    c.name = name;
    c.type = type;
    c.size = size;
    c.autoNumber = counter;
    return c;
}

IndexSpec index(const char* name, const char* column, bool primaryKey = false) {
    IndexSpec ix;
    ix.name = name;
    ix.columns = {{column, true}};
    ix.primaryKey = primaryKey;
    return ix;
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int usage() {
    std::fputs(
        "usage: make-bench-db OUT.mdb [--seed N] [--rows N] [--customers N] [--notes PERCENT]\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string out = argv[1];
    uint64_t seed = 20261208, rows = 1000000, customers = 100000, notesPercent = 70;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) return usage();
        uint64_t v = std::strtoull(argv[++i], nullptr, 10);
        if (a == "--seed")
            seed = v;
        else if (a == "--rows")
            rows = v;
        else if (a == "--customers")
            customers = v ? v : 1;
        else if (a == "--notes" && v <= 100)
            notesPercent = v;
        else
            return usage();
    }
    auto start = std::chrono::steady_clock::now();
    CreateOptions options;
    options.objectDate = accessDate(2026, 1, 1);
    auto w = DatabaseWriter::create(out, options);
    if (!w.ok()) {
        std::fprintf(stderr, "make-bench-db: %s\n", w.error().message().c_str());
        return 1;
    }
    auto fail = [](const Error& e) {
        std::fprintf(stderr, "make-bench-db: %s\n", e.message().c_str());
        return 1;
    };
    TableSpec customer{
        "Customer",
        {column("CustomerID", ColumnType::Long, 0, true), column("Name", ColumnType::Text, 50),
         column("City", ColumnType::Text, 30), column("Country", ColumnType::Text, 30)},
        {index("PrimaryKey", "CustomerID", true), index("Name", "Name")}};
    TableSpec big{"Big",
                  {column("ID", ColumnType::Long, 0, true), column("CustomerID", ColumnType::Long),
                   column("Name", ColumnType::Text, 50), column("City", ColumnType::Text, 30),
                   column("Qty", ColumnType::Long), column("Price", ColumnType::Double),
                   column("Amount", ColumnType::Currency), column("Created", ColumnType::DateTime),
                   column("Active", ColumnType::Boolean), column("Notes", ColumnType::Memo)},
                  {index("PrimaryKey", "ID", true), index("CustomerID", "CustomerID"),
                   index("Name", "Name")}};
    auto ct = (*w)->addTable(customer);
    if (!ct.ok()) return fail(ct.error());
    auto bt = (*w)->addTable(big);
    if (!bt.ok()) return fail(bt.error());

    std::mt19937_64 rng(seed);
    std::vector<Value> row(4);
    for (uint64_t i = 0; i < customers; ++i) {
        row[0] = Value::null();
        row[1] = Value::text(std::string(pick(rng, kFirst)) + " " + pick(rng, kLast));
        row[2] = Value::text(pick(rng, kCities));
        row[3] = Value::text(pick(rng, kCountries));
        auto st = (*w)->appendRow(*ct, row);
        if (!st.ok()) return fail(st.error());
    }
    double tCustomer = seconds(start);
    std::vector<Value> brow(10);
    const double firstDay = accessDate(2015, 1, 1);
    for (uint64_t i = 0; i < rows; ++i) {
        brow[0] = Value::null();
        brow[1] = Value::integer(static_cast<int64_t>(1 + rng() % customers));
        brow[2] = Value::text(std::string(pick(rng, kFirst)) + " " + pick(rng, kLast));
        brow[3] = rng() % 20 == 0 ? Value::null() : Value::text(pick(rng, kCities));
        int64_t qty = static_cast<int64_t>(1 + rng() % 100);
        int64_t cents = static_cast<int64_t>(50 + rng() % 50000);
        brow[4] = Value::integer(qty);
        brow[5] = Value::real(static_cast<double>(cents) / 100.0);
        brow[6] = Value::currency(qty * cents * 100);
        brow[7] = Value::dateTime(firstDay + static_cast<double>(rng() % (3650 * 86400)) / 86400.0);
        brow[8] = Value::boolean(rng() % 10 < 7);
        // Two digits of one draw, low digit first: at 70% this is the same
        // Null pattern as the generator always made.
        uint64_t draw = rng();
        bool noNotes = (draw % 10) * 10 + draw / 10 % 10 < 100 - notesPercent;
        brow[9] = noNotes ? Value::null() : Value::text(notes(rng));
        auto st = (*w)->appendRow(*bt, brow);
        if (!st.ok()) return fail(st.error());
    }
    double tRows = seconds(start);
    auto st = (*w)->finish();
    if (!st.ok()) return fail(st.error());
    double tAll = seconds(start);
    std::printf("%s: Customer %llu rows, Big %llu rows\n", out.c_str(),
                static_cast<unsigned long long>(customers), static_cast<unsigned long long>(rows));
    std::printf("  customers %.2f s, big rows %.2f s, indexes and catalogue %.2f s, total %.2f s\n",
                tCustomer, tRows - tCustomer, tAll - tRows, tAll);
    return 0;
}
