// The template library as the build puts it beside the program: every
// SELECT template, filled the way the template window fills it, runs on the
// sample database, every action query parses, and every file is one the
// window can list and read.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "app/file_helpers.h"
#include "tabulary/accsql/parser.h"
#include "tabulary/ado/connection.h"
#include "tabulary/ado/query.h"
#include "tabulary/jet/check.h"
#include "templating/placeholder_filling.h"
#include "templating/template_catalogue.h"
#include "templating/template_folders.h"

namespace tab::gui {
namespace {

const QString kBuilt = QStringLiteral(TABULARY_APP_BUILD_DIR);

QStringList listedNames(const QString& folder) {
    QStringList names;
    for (const QString& name : GetFilesInFolder(folder, QStringLiteral("*.txt")))
        if (isListedTemplateName(name)) names << name;
    return names;
}

bool hasPlaceholder(const QString& text) {
    static const QRegularExpression placeholder(QStringLiteral(R"(\{(table1?|field[0-9]*)\})"),
                                                QRegularExpression::CaseInsensitiveOption);
    return placeholder.match(text).hasMatch();
}

// Opens the statement and reads its rows, which is where a failure in a
// column's expression shows; "" when both worked, else the engine's message.
std::string runOnSample(const QString& sql) {
    ado::Connection connection;
    const Status opened =
        connection.openFile((kBuilt + QStringLiteral("/Samples/sample.mdb")).toStdString(), "");
    if (!opened) return "opening the sample: " + opened.error().message();
    auto recordset = ado::openRecordset(connection, sql.toStdString());
    if (!recordset) return recordset.error().message();
    auto count = recordset->recordCount();
    if (!count) return count.error().message();
    return {};
}

// Selections a user can make on the sample. The current field is a date or
// a number, which a date range can compare; one table's name needs brackets;
// one selection has more fields than any template numbers and a current
// field that is not among them.
const WorkspaceSelection kSelections[] = {
    {QStringLiteral("Orders"),
     QStringLiteral("OrderDate"),
     {QStringLiteral("CustomerID"), QStringLiteral("OrderDate")}},
    {QStringLiteral("Orders"),
     QStringLiteral("ShippedDate"),
     {QStringLiteral("ShipCountry"), QStringLiteral("Freight"), QStringLiteral("ShipCity")}},
    {QStringLiteral("Order Details"),
     QStringLiteral("Quantity"),
     {QStringLiteral("OrderID"), QStringLiteral("UnitPrice")}},
    {QStringLiteral("Employees"),
     QStringLiteral("HireDate"),
     {QStringLiteral("Title"), QStringLiteral("BirthDate")}},
    {QStringLiteral("Products"),
     QStringLiteral("UnitPrice"),
     {QStringLiteral("CategoryID"), QStringLiteral("ProductName")}},
};

std::string describe(const WorkspaceSelection& s) {
    return (s.table + u'/' + s.currentField + QStringLiteral(" [") +
            s.selectedFields.join(QStringLiteral(", ")) + u']')
        .toStdString();
}

TEST(ShippedTemplates, EverySelectTemplateOpensOnTheSampleForEverySelection) {
    const QString folder = kBuilt + QStringLiteral("/templates/queries/select");
    const QStringList names = listedNames(folder);
    // All rows, chosen fields, count, distinct, top 10, group and count, min
    // and max, empty field, join, date range, text search.
    ASSERT_GE(names.size(), 11) << folder.toStdString();
    for (const QString& name : names) {
        const QString text = ReadTextFile(folder + u'/' + name);
        for (const WorkspaceSelection& selection : kSelections) {
            const QString sql = FillPlaceholders(text, selection);
            SCOPED_TRACE(name.toStdString() + " with " + describe(selection) + ":\n" +
                         sql.toStdString());
            EXPECT_FALSE(hasPlaceholder(sql)) << "a placeholder is left";
            EXPECT_EQ(runOnSample(sql), "");
        }
    }
}

// Filled for any selection, each action query is one statement Access would
// accept.
TEST(ShippedTemplates, EveryActionQueryParsesForEverySelection) {
    const QString folder = kBuilt + QStringLiteral("/templates/queries");
    const QStringList names = listedNames(folder);
    // Insert, update, delete, make-table, append.
    ASSERT_GE(names.size(), 5) << folder.toStdString();
    for (const QString& name : names) {
        const QString text = ReadTextFile(folder + u'/' + name);
        for (const WorkspaceSelection& selection : kSelections) {
            const QString sql = FillPlaceholders(text, selection);
            SCOPED_TRACE(name.toStdString() + " with " + describe(selection) + ":\n" +
                         sql.toStdString());
            EXPECT_FALSE(hasPlaceholder(sql)) << "a placeholder is left";
            const std::string utf8 = sql.toStdString();
            const accsql::ParseResult parsed = accsql::parse(utf8);
            EXPECT_TRUE(parsed.ok())
                << (parsed.diagnostics.empty() ? std::string("no diagnostic")
                                               : parsed.diagnostics.front().render());
        }
    }
}

// Filled for text fields of the sample's Customers, every action query runs
// on a copy of the sample (the append template once its source table is
// named) and leaves a file the checker passes.
TEST(ShippedTemplates, EveryActionQueryRunsOnACopyOfTheSample) {
    const QString folder = kBuilt + QStringLiteral("/templates/queries");
    const std::string copy = (std::filesystem::temp_directory_path() /
                              ("tabulary_templates_" + std::to_string(::getpid()) + ".mdb"))
                                 .string();
    std::filesystem::copy_file((kBuilt + QStringLiteral("/Samples/sample.mdb")).toStdString(), copy,
                               std::filesystem::copy_options::overwrite_existing);
    const WorkspaceSelection customers{QStringLiteral("Customers"),
                                       QStringLiteral("City"),
                                       {QStringLiteral("CompanyName"), QStringLiteral("Country")}};
    const QStringList names = listedNames(folder);
    ASSERT_GE(names.size(), 5);
    for (const QString& name : names) {
        QString sql = FillPlaceholders(ReadTextFile(folder + u'/' + name), customers);
        sql.replace(QStringLiteral("[other table]"), QStringLiteral("Customers"));
        SCOPED_TRACE(name.toStdString() + ":\n" + sql.toStdString());
        ado::Connection connection;
        ASSERT_TRUE(connection.openFile(copy, "").ok());
        auto affected = ado::execute(connection, sql.toStdString());
        EXPECT_TRUE(affected.ok()) << affected.error().message();
        connection.close();
        auto db = jet::Database::open(copy);
        ASSERT_TRUE(db.ok());
        for (const auto& p : jet::checkDatabase(**db).problems)
            EXPECT_NE(p.severity, jet::CheckProblem::Severity::Error) << p.message;
    }
    std::filesystem::remove(copy);
}

// "All rows" or the join, then the condition fragments as a user adds them
// at the end of the text before executing.
TEST(ShippedTemplates, ConditionFragmentsRunAfterTheTemplatesTheyFollow) {
    const struct {
        const char* templateName;
        QStringList fragments;
    } cases[] = {
        {"All rows", {QStringLiteral("WHERE")}},
        {"All rows", {QStringLiteral("WHERE"), QStringLiteral("AND")}},
        {"All rows", {QStringLiteral("WHERE"), QStringLiteral("OR")}},
        {"All rows", {QStringLiteral("WHERE"), QStringLiteral("AND"), QStringLiteral("ORDER BY")}},
        {"Join to itself", {QStringLiteral("WHERE")}},
        {"Join to itself", {QStringLiteral("WHERE"), QStringLiteral("OR")}},
    };
    const QString templates = kBuilt + QStringLiteral("/templates/queries/select/");
    const QString fragments = kBuilt + QStringLiteral("/templates/fragments/");
    for (const auto& c : cases) {
        const QString start =
            templates + QString::fromUtf8(c.templateName) + QStringLiteral(".txt");
        ASSERT_TRUE(IsExistingFile(start)) << start.toStdString();
        for (const WorkspaceSelection& selection : kSelections) {
            // The window fills the template, then the text again with each
            // fragment inserted.
            QString sql = FillPlaceholders(ReadTextFile(start), selection);
            for (const QString& fragment : c.fragments) {
                const QString path = fragments + fragment + QStringLiteral(".txt");
                ASSERT_TRUE(IsExistingFile(path)) << path.toStdString();
                sql = FillPlaceholders(sql + ReadTextFile(path), selection);
            }
            SCOPED_TRACE(std::string(c.templateName) + " + " +
                         c.fragments.join(QStringLiteral(" + ")).toStdString() + " with " +
                         describe(selection) + ":\n" + sql.toStdString());
            EXPECT_FALSE(hasPlaceholder(sql)) << "a placeholder is left";
            EXPECT_EQ(runOnSample(sql), "");
        }
    }
}

// Every file of the three folders: UTF-8, listed under a name of its own,
// and a template holds a placeholder (a fragment may be fixed text).
TEST(ShippedTemplates, EveryFileIsUtf8AndEveryTemplateHasAPlaceholder) {
    const struct {
        const char* folder;
        bool fragments;
    } folders[] = {
        {"queries/select", false},
        {"queries", false},
        {"fragments", true},
    };
    for (const auto& f : folders) {
        const QString folder = kBuilt + QStringLiteral("/templates/") + QString::fromUtf8(f.folder);
        const QStringList names = GetFilesInFolder(folder, QStringLiteral("*"));
        EXPECT_FALSE(names.isEmpty()) << folder.toStdString();
        QStringList shown;
        for (const QString& name : names) {
            SCOPED_TRACE(std::string(f.folder) + "/" + name.toStdString());
            // Only the ending may hold a dot, else the list shows less of
            // the name; every file is meant to be listed.
            EXPECT_TRUE(name.endsWith(QStringLiteral(".txt"))) << "not a template file";
            EXPECT_EQ(name.count(u'.'), 1);
            EXPECT_TRUE(isListedTemplateName(name));
            const QString display = templateDisplayName(name);
            EXPECT_FALSE(display.isEmpty());
            EXPECT_FALSE(shown.contains(display)) << "two files listed as one name";
            shown << display;

            QFile file(folder + u'/' + name);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString text = utf8.decode(bytes);
            EXPECT_FALSE(utf8.hasError()) << "not UTF-8";
            EXPECT_FALSE(text.trimmed().isEmpty());
            if (!f.fragments) {
                EXPECT_TRUE(hasPlaceholder(text)) << text.toStdString();
            }
        }
    }
}

}  // namespace
}  // namespace tab::gui
