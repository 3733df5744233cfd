// Creating a new Jet4 (.mdb) or ACE12 (.accdb) database from nothing:
// the system tables Access expects, user tables with their columns and
// indexes, and rows appended in bulk.
//
// The file is written to a temporary name beside the target and renamed into
// place by finish(); a writer destroyed before finish() leaves nothing behind.
// Rows are validated (types, lengths, required columns, unique keys) before
// anything of them is stored, so a rejected row leaves no trace.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/value.h"

namespace tab::jet {

struct ColumnSpec {
    std::string name;
    ColumnType type = ColumnType::Text;
    uint32_t size = 255;            // Text: characters, 1-255
    uint8_t precision = 18;         // Decimal: 1-28
    uint8_t scale = 0;              // Decimal: 0-precision
    bool autoNumber = false;        // Long: counter; Guid: random ids
    uint32_t autoNumberSeed = 1;    // Long counter: the first number handed out
    bool required = false;          // "Required" property: Null rejected
    std::string defaultValue;       // "DefaultValue" property (an Access expression), empty: none
    bool allowZeroLength = true;    // Text and Memo: "" accepted
    bool compressedUnicode = true;  // Text and Memo, as Access's "Unicode Compression"
};

struct IndexColumnSpec {
    std::string column;
    bool ascending = true;
};

struct IndexSpec {
    std::string name;
    std::vector<IndexColumnSpec> columns;  // 1-10
    bool primaryKey = false;               // implies unique and required
    bool unique = false;
    bool required = false;     // no Null in any column
    bool ignoreNulls = false;  // rows whose columns are all Null are not indexed
};

struct TableSpec {
    std::string name;
    std::vector<ColumnSpec> columns;
    std::vector<IndexSpec> indexes;
};

// A table linked from elsewhere: an Access file (database: its path as
// stored, connect usually empty) or an ODBC source (connect: "ODBC;DSN=...").
struct LinkSpec {
    std::string name;
    std::string database;
    std::string foreignName;
    std::string connect;
    bool odbc = false;
};

enum class FileFormat {
    Jet4,   // .mdb, Access 2000-2003
    Ace12,  // .accdb, Access 2007 ("General (legacy)" text order, as Jet4)
};

struct CreateOptions {
    FileFormat format = FileFormat::Jet4;
    // Jet database password, at most 20 characters; Jet4 only (an .accdb's
    // password is its encryption: encryptDatabase).
    std::string password;
    // Date/time of the objects in the catalogue (Access date serial); 0: now.
    double objectDate = 0;
    // Flush the file to disk before it is renamed into place.
    bool durable = true;
};

class DatabaseWriter {
public:
    static Result<std::unique_ptr<DatabaseWriter>> create(const std::string& path,
                                                          const CreateOptions& options = {});
    ~DatabaseWriter();
    DatabaseWriter(const DatabaseWriter&) = delete;
    DatabaseWriter& operator=(const DatabaseWriter&) = delete;

    // Adds a table; returns its handle for appendRow().
    Result<size_t> addTable(const TableSpec& spec);
    // Adds a linked table to the catalogue.
    Status addLink(const LinkSpec& link);

    // One value per column in spec order. A Null for a counter column takes
    // the next number; Text, Integer, Decimal, Double and the other kinds are
    // converted where the column's type allows it exactly.
    Status appendRow(size_t table, std::span<const Value> values);

    // Builds the indexes and the catalogue, writes everything and puts the
    // file in place. The writer is unusable afterwards.
    Status finish();

    // Rows appended to a table so far.
    uint64_t rowCount(size_t table) const;

    struct Impl;

private:
    explicit DatabaseWriter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// The Access date serial (days since 1899-12-30) of a calendar date and time.
double accessDate(int year, int month, int day, int hour = 0, int minute = 0, double second = 0);

}  // namespace tab::jet
