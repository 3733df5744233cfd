// The shared pieces of the windows: the error box and the guard, the titles,
// the connection string, the engine and printer checks, the history entries
// and the two list and text controls.
#include <gtest/gtest.h>

#include <QRegularExpression>

#include "app/failure.h"
#include "app/procedure_error.h"
#include "app/product.h"
#include "db/connection_settings.h"
#include "db/engine_check.h"
#include "export/printers.h"
#include "ui_support.h"
#include "workspace/query_box.h"
#include "workspace/query_history.h"
#include "workspace/table_list.h"

namespace tab::gui {
namespace {

using testing::TestWorld;

TEST(ProcedureError, TextIsJoinedExactly) {
    const struct {
        QString description, source;
        long line;
        QString expected;
    } cases[] = {
        {"Not a database.", "in Ravelin2021/08/31.Access1.AddTablesToAccessListbox ", 102,
         "Not a database.\r\nin Ravelin2021/08/31.Access1.AddTablesToAccessListbox at line 102\r\r"
         "Please email screenshot of this message to support@quillmoor.example"},
        {"", "in Ravelin2021/08/31.Form1.Form_Load ", 100,
         "\r\nin Ravelin2021/08/31.Form1.Form_Load at line 100\r\r"
         "Please email screenshot of this message to support@quillmoor.example"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(procedureErrorText(c.description, c.source, c.line), c.expected);
}

// A guarded procedure of three steps, a test and its branch, and callees
// with and without guards of their own.
struct Probe {
    std::vector<int> ran;
    void run(const std::function<void(int)>& failAt, bool callGuardedCallee = false) {
        Guard g(QStringLiteral("Probe.Run"));
        auto step = [&](int n) {
            ran.push_back(n);
            failAt(n);
        };
        g.line(100, [&] { step(100); });
        if (g.test(102, [&] {
                step(102);
                return false;
            }))
            g.line(104, [&] { step(104); });
        g.line(106, [&] {
            step(106);
            if (callGuardedCallee) {
                Guard inner(QStringLiteral("Probe.Callee"));
                inner.line(100, [] { throw Failure(QStringLiteral("inner")); });
                inner.line(102, [&] { ran.push_back(1102); });
            } else {
                unguardedCallee();
            }
        });
        g.line(108, [&] { step(108); });
    }
    void unguardedCallee() { ran.push_back(999); }
};

TEST(Guard, FailuresAreReportedOnceEachAndTheProcedureGoesOn) {
    const struct {
        std::vector<int> failing;
        std::vector<int> ran;
        std::vector<long> reportedLines;
    } cases[] = {
        {{}, {100, 102, 106, 999, 108}, {}},
        {{100}, {100, 102, 106, 999, 108}, {100}},
        // A failing test runs the step it guards.
        {{102}, {100, 102, 104, 106, 999, 108}, {102}},
        {{100, 108}, {100, 102, 106, 999, 108}, {100, 108}},
        // The callee is abandoned at the failure.
        {{106}, {100, 102, 106, 108}, {106}},
    };
    for (const auto& c : cases) {
        TestWorld world;
        world.hooks.steps.clear();
        Probe p;
        p.run([&](int n) {
            if (std::find(c.failing.begin(), c.failing.end(), n) != c.failing.end())
                throw Failure(QStringLiteral("step %1 failed").arg(n));
        });
        EXPECT_EQ(p.ran, c.ran);
        const QStringList texts = world.dialogs->errorTexts();
        ASSERT_EQ(texts.size(), static_cast<qsizetype>(c.reportedLines.size()));
        for (size_t i = 0; i < c.reportedLines.size(); ++i)
            EXPECT_EQ(texts[i],
                      procedureErrorText(QStringLiteral("step %1 failed").arg(c.reportedLines[i]),
                                         QStringLiteral("in Ravelin2021/08/31.Probe.Run "),
                                         c.reportedLines[i]));
        for (const MessageBox& b : world.dialogs->boxes) {
            EXPECT_EQ(b.icon, BoxIcon::Warning);
            EXPECT_EQ(b.buttons, BoxButtons::Ok);
        }
    }
}

TEST(Guard, AGuardedCalleeReportsItsOwnFailures) {
    TestWorld world;
    Probe p;
    p.run([](int) {}, true);
    EXPECT_EQ(p.ran, (std::vector<int>{100, 102, 106, 1102, 108}));
    const QStringList texts = world.dialogs->errorTexts();
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts[0].startsWith(
        QStringLiteral("inner\r\nin Ravelin2021/08/31.Probe.Callee at line 100")));
}

TEST(Guard, AnUnguardedFailureCarriesTheCallersSourceAndLine) {
    TestWorld world;
    Guard g(QStringLiteral("Form9.Handler"));
    g.line(114, [] {
        // Deep inside helpers without guards; the standard library's own
        // exceptions count as failures too.
        std::vector<int> v;
        (void)v.at(3);
    });
    const QStringList texts = world.dialogs->errorTexts();
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(
        texts[0].contains(QStringLiteral("\r\nin Ravelin2021/08/31.Form9.Handler at line 114\r\r")))
        << texts[0].toStdString();
}

TEST(ApplicationTitle, IsCutBeforeTheLastBlank) {
    const struct {
        QString product, title;
    } cases[] = {
        {"Tabulary", "Tabulary"},
        {"Tabulary Desktop", "Tabulary"},
        {"Tabulary Desktop Edition", "Tabulary Desktop"},
        {"A very long product title that goes on and on past forty",
         "A very long product title that goes on"},
        {"Averyveryveryveryveryveryveryveryveryverylongword x",
         "Averyveryveryveryveryveryveryveryveryverylongword"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(applicationTitleFrom(c.product), c.title) << c.product.toStdString();
}

TEST(FileDialogFilter, CommonDialogFormBecomesQtFilters) {
    EXPECT_EQ(
        qtFilters(QStringLiteral("All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database "
                                 "(*.mdb)|*.mdb|Microsoft 2007 Database (*.accdb)|*.accdb|")),
        (QStringList{QStringLiteral("All Microsoft Databases (*.mdb,*.accdb) (*.*db)"),
                     QStringLiteral("Microsoft Database (*.mdb) (*.mdb)"),
                     QStringLiteral("Microsoft 2007 Database (*.accdb) (*.accdb)")}));
    EXPECT_EQ(qtFilters(QStringLiteral("Text|*.txt;*.csv")),
              QStringList{QStringLiteral("Text (*.txt *.csv)")});
    EXPECT_TRUE(qtFilters(QString()).isEmpty());
}

struct Settings : ConnectionSettings {
    QString path, password;
    QString databasePath() const override { return path; }
    QString databasePassword() const override { return password; }
};

TEST(ConnectionString, ProviderFollowsTheLastFiveCharacters) {
    const QString jet = QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=");
    const QString ace = QStringLiteral("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=");
    const QString pw = QStringLiteral(";JET OLEDB:Database Password=");
    const struct {
        QString path, password, expected;
    } cases[] = {
        {"/d/a.accdb", "s3cret", ace + "/d/a.accdb" + pw + "s3cret"},
        {"/d/a.mdb", "", jet + "/d/a.mdb" + pw},
        {"/d/A.ACCDB", "", ace + "/d/A.ACCDB" + pw},
        {"/d/noaccdb", "", ace + "/d/noaccdb" + pw},
        {"/d/a.accde", "", jet + "/d/a.accde" + pw},
        {"/d/a.mde", "", jet + "/d/a.mde" + pw},
        {"db", "x;y", jet + "db" + pw + "x;y"},
        {"", "", jet + pw},
    };
    for (const auto& c : cases) {
        Settings s;
        s.path = c.path;
        s.password = c.password;
        EXPECT_EQ(BuildConnectionString(s), c.expected);
    }
}

TEST(EngineCheck, MissingProviderIsExplainedAndOffersThePages) {
    const struct {
        std::optional<CreationFailure> failure;
        std::optional<BoxAnswer> answer;  // a box is expected when set
        bool available;
        QStringList pages;
    } cases[] = {
        {std::nullopt, std::nullopt, true, {}},
        {CreationFailure{1, "Provider Cannot Be Found."}, BoxAnswer::No, false, {}},
        {CreationFailure{1, "the PROVIDER CANNOT BE FOUND here"},
         BoxAnswer::Yes,
         false,
         {kEngine2010Download, kEngine2016Download}},
        {CreationFailure{3706, "anything"}, BoxAnswer::No, false, {}},
        {CreationFailure{429, "ActiveX component can't create object"}, std::nullopt, false, {}},
    };
    for (const auto& c : cases) {
        TestWorld world;
        SetApplicationTitle();
        world.connections->failure = c.failure;
        if (c.answer) world.dialogs->answers.push_back(*c.answer);
        EXPECT_EQ(IsDatabaseEngineAvailable(), c.available);
        ASSERT_EQ(world.dialogs->boxes.size(), c.answer ? 1u : 0u);
        if (c.answer) {
            const MessageBox& b = world.dialogs->boxes[0];
            EXPECT_EQ(b.title, QStringLiteral("Tabulary"));
            EXPECT_EQ(b.buttons, BoxButtons::YesNo);
            EXPECT_EQ(b.icon, BoxIcon::None);
            EXPECT_EQ(b.text, missingProviderText());
        }
        EXPECT_EQ(world.browser->opened, c.pages);
    }
    EXPECT_TRUE(missingProviderText().startsWith(QStringLiteral(
        "Error #3706: Provider cannot be found. It may not be properly installed.\r\n\r\n"
        "You are getting this error because:\r\n\r\n")));
    EXPECT_TRUE(missingProviderText().endsWith(QStringLiteral(
        "so you can do this?\r\n\r\n(If you have any further questions please email a "
        "screenshot of this error message to support@quillmoor.example)")));
}

TEST(PdfPrinterCheck, OnlyTheExactNameCounts) {
    const struct {
        QStringList printers;
        bool box;
    } cases[] = {
        {{"Office Laser", "Quillmoor PDF Writer"}, false},
        {{"Quillmoor PDF Writer"}, false},
        {{"Office Laser"}, true},
        {{"quillmoor pdf writer"}, true},
        {{}, true},
    };
    for (const auto& c : cases) {
        TestWorld world;
        world.printers->list = c.printers;
        CheckPdfPrinterInstalled();
        ASSERT_EQ(world.dialogs->boxes.size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_EQ(world.dialogs->boxes[0].text, missingPdfPrinterText());
        }
    }
    EXPECT_EQ(missingPdfPrinterText(),
              QStringLiteral(
                  "Quillmoor PDF Writer is not installed. Please follow these instructions:\r\n\r\n"
                  "1) Go to Control Panel -> Printers and Faxes to add a local printer.\r\n"
                  "2) Choose ''CPW2: (Quillmoor PDF Writer)'' on Select a Printer Port dialog box, "
                  "click Next.\r\n"
                  "3) Choose a Postscript printer (e.g. HP Color LaserJet PS), click Next.\r\n"
                  "4) Enter Quillmoor PDF Writer as Printer name, click Next -> Finish."));
    TestWorld world;
    world.printers->fail = true;
    EXPECT_THROW(CheckPdfPrinterInstalled(), Failure);
}

TEST(HistoryEntries, OneEntryPerNonEmptyPieceNumberedByItsIndex) {
    using E = QList<QPair<QString, QString>>;
    const struct {
        QString text;
        E entries;
    } cases[] = {
        {"", {}},
        {"select 1", {{"00000", "select 1"}}},
        {"a\r\nb\r\n", {{"00000", "a"}, {"00001", "b"}}},
        {"a\r\n\r\nb\r\n", {{"00000", "a"}, {"00002", "b"}}},
        {"empty file", {{"00000", "empty file"}}},
        // Lone CR or LF do not split.
        {"a\rb\nc\r\n", {{"00000", "a\rb\nc"}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(historyEntries(c.text), c.entries) << c.text.toStdString();
    QString many;
    for (int i = 0; i < 100001; ++i) many += QStringLiteral("q\r\n");
    const auto entries = historyEntries(many);
    ASSERT_EQ(entries.size(), 100001);
    EXPECT_EQ(entries.back().first, QStringLiteral("100000"));
}

TEST(QueryBox, LineBreaksReadAsCrLf) {
    QueryBox box(nullptr);
    const struct {
        QString set, read;
    } cases[] = {
        {"select *\r\nfrom t", "select *\r\nfrom t"},
        {"a\nb", "a\r\nb"},
        {"a\rb", "a\r\nb"},
        {"x\r\n\r\n", "x\r\n\r\n"},
        {QString::fromUtf8("tab\there \u00a0nbsp"), QString::fromUtf8("tab\there \u00a0nbsp")},
    };
    for (const auto& c : cases) {
        box.setText(c.set);
        EXPECT_EQ(box.text(), c.read) << c.set.toStdString();
    }
}

TEST(TableList, SortsWithoutRegardToCase) {
    TableList list(nullptr);
    for (const char* name : {"orders", "Customers", "archive", "Zeta", "alpha", "ARCHIVE"})
        list.addName(QString::fromUtf8(name));
    QStringList shown;
    for (int i = 0; i < list.count(); ++i) shown << list.item(i)->text();
    EXPECT_EQ(shown, (QStringList{"alpha", "ARCHIVE", "archive", "Customers", "orders", "Zeta"}));
}

}  // namespace
}  // namespace tab::gui
