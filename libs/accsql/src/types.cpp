#include "types_internal.h"

#include "tabulary/accsql/translate.h"

namespace tab::accsql {

const char* typeTag(Type type) {
    switch (type) {
        case Type::Boolean:
            return "bool";
        case Type::Byte:
            return "byte";
        case Type::Integer:
            return "int";
        case Type::Long:
        case Type::BigInt:
            return "long";
        case Type::Single:
            return "single";
        case Type::Double:
            return "double";
        case Type::Currency:
            return "currency";
        case Type::Decimal:
            return "decimal";
        case Type::Date:
            return "date";
        case Type::Text:
        case Type::Memo:
            return "text";
        case Type::Binary:
        case Type::LongBinary:
            return "binary";
        case Type::Guid:
            return "guid";
        case Type::Null:
        case Type::Variant:
            return "variant";
    }
    return "variant";
}

const char* typeName(Type type) {
    switch (type) {
        case Type::Null:
            return "Null";
        case Type::Boolean:
            return "Yes/No";
        case Type::Byte:
            return "Byte";
        case Type::Integer:
            return "Integer";
        case Type::Long:
            return "Long Integer";
        case Type::BigInt:
            return "Large Number";
        case Type::Single:
            return "Single";
        case Type::Double:
            return "Double";
        case Type::Currency:
            return "Currency";
        case Type::Decimal:
            return "Decimal";
        case Type::Date:
            return "Date/Time";
        case Type::Text:
            return "Text";
        case Type::Memo:
            return "Memo";
        case Type::Binary:
            return "Binary";
        case Type::LongBinary:
            return "OLE Object";
        case Type::Guid:
            return "Replication ID";
        case Type::Variant:
            return "Variant";
    }
    return "Variant";
}

bool isNumeric(Type t) {
    switch (t) {
        case Type::Boolean:
        case Type::Byte:
        case Type::Integer:
        case Type::Long:
        case Type::BigInt:
        case Type::Single:
        case Type::Double:
        case Type::Currency:
        case Type::Decimal:
            return true;
        default:
            return false;
    }
}

bool isIntegral(Type t) {
    return t == Type::Boolean || t == Type::Byte || t == Type::Integer || t == Type::Long ||
           t == Type::BigInt;
}

bool isText(Type t) {
    return t == Type::Text || t == Type::Memo;
}

namespace {
// Byte < Integer < Long < Single < Double < Currency < Decimal, Boolean as Integer.
int numericRank(Type t) {
    switch (t) {
        case Type::Byte:
            return 1;
        case Type::Boolean:
        case Type::Integer:
            return 2;
        case Type::Long:
            return 3;
        case Type::BigInt:
            return 4;
        case Type::Single:
            return 5;
        case Type::Double:
            return 6;
        case Type::Currency:
            return 7;
        case Type::Decimal:
            return 8;
        default:
            return 0;
    }
}
}  // namespace

Type widerNumeric(Type a, Type b) {
    if (a == Type::Boolean) a = Type::Integer;
    if (b == Type::Boolean) b = Type::Integer;
    if ((a == Type::Single && (b == Type::Long || b == Type::BigInt)) ||
        (b == Type::Single && (a == Type::Long || a == Type::BigInt)))
        return Type::Double;
    return numericRank(a) >= numericRank(b) ? a : b;
}

Type commonType(Type a, Type b) {
    if (a == Type::Null) return b;
    if (b == Type::Null) return a;
    if (a == b) return a;
    if (isNumeric(a) && isNumeric(b)) return widerNumeric(a, b);
    if (isText(a) && isText(b)) return Type::Memo;
    if ((a == Type::Binary || a == Type::LongBinary) &&
        (b == Type::Binary || b == Type::LongBinary))
        return Type::LongBinary;
    return Type::Variant;
}

Error writeNotSupported(StatementKind kind) {
    const char* what = "This statement";
    switch (kind) {
        case StatementKind::SelectInto:
            what = "A make-table query (SELECT ... INTO)";
            break;
        case StatementKind::Insert:
            what = "An INSERT INTO statement";
            break;
        case StatementKind::Update:
            what = "An UPDATE statement";
            break;
        case StatementKind::Delete:
            what = "A DELETE statement";
            break;
        case StatementKind::CreateTable:
            what = "CREATE TABLE";
            break;
        case StatementKind::AlterTable:
            what = "ALTER TABLE";
            break;
        case StatementKind::CreateIndex:
            what = "CREATE INDEX";
            break;
        case StatementKind::DropTable:
            what = "DROP TABLE";
            break;
        case StatementKind::DropIndex:
            what = "DROP INDEX";
            break;
        case StatementKind::DropView:
            what = "DROP VIEW";
            break;
        case StatementKind::DropProcedure:
            what = "DROP PROCEDURE";
            break;
        case StatementKind::CreateView:
            what = "CREATE VIEW";
            break;
        case StatementKind::CreateProcedure:
            what = "CREATE PROCEDURE";
            break;
        case StatementKind::Transaction:
            what = "A transaction statement";
            break;
        default:
            break;
    }
    return Error(Errc::Unsupported,
                 std::string(what) +
                     " changes the database and returns no rows to read; it runs as a "
                     "command (Execute). Nothing was run and the file was not touched.");
}

}  // namespace tab::accsql
