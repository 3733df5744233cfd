// "Save Results As" > PDF and the printer operations behind it: the
// program's default printer, the text printer's job, and the command through
// the real workspace with the PDF read back by pdftotext.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include "app/application.h"
#include "app/failure.h"
#include "app/product.h"
#include "export/printers.h"
#include "ui_support.h"
#include "workspace/query_box.h"
#include "workspace/workspace_window.h"

namespace tab::gui {
namespace {

using testing::child;
using testing::TestWorld;
using testing::writeDatabase;

const QString kPdf = QStringLiteral("Quillmoor PDF Writer");
const QString kLaser = QStringLiteral("Office Laser");

// The program's default printer through a run of changes: exact names only,
// never a box from ChangeDefaultPrinter.
TEST(Printers, DefaultPrinterIsTheProgramsOwn) {
    TestWorld world;
    const struct Step {
        const char* what;
        std::function<void()> before;
        const char* change;  // ChangeDefaultPrinter's argument; nullptr: none
        bool changed;
        QString after;  // GetDefaultPrinter afterwards
    } steps[] = {
        {"starts as the system's", nullptr, nullptr, false, kLaser},
        {"the system's default changing later does not matter",
         [&] { world.printers->system = QStringLiteral("Other"); }, nullptr, false, kLaser},
        {"names differing in case", nullptr, "quillmoor pdf writer", false, kLaser},
        {"a trailing blank", nullptr, "Quillmoor PDF Writer ", false, kLaser},
        {"empty", nullptr, "", false, kLaser},
        {"the PDF printer", nullptr, "Quillmoor PDF Writer", true, kPdf},
        {"not installed", nullptr, "Other", false, kPdf},
        {"back", nullptr, "Office Laser", true, kLaser},
        {"a list that cannot be read", [&] { world.printers->fail = true; }, "Quillmoor PDF Writer",
         false, kLaser},
    };
    for (const Step& s : steps) {
        if (s.before) s.before();
        if (s.change) {
            EXPECT_EQ(ChangeDefaultPrinter(QString::fromUtf8(s.change)), s.changed) << s.what;
        }
        EXPECT_EQ(GetDefaultPrinter(), s.after) << s.what;
    }
    EXPECT_TRUE(world.dialogs->boxes.empty());
}

TEST(Printers, DefaultWithoutASystemDefaultOrWhenItFails) {
    {
        TestWorld world;
        world.printers->system.clear();
        EXPECT_EQ(GetDefaultPrinter(), kPdf);
    }
    TestWorld world;
    world.printers->failDefault = true;
    EXPECT_EQ(GetDefaultPrinter(), QString());
    ASSERT_EQ(world.dialogs->boxes.size(), 1u);
    const MessageBox& box = world.dialogs->boxes[0];
    EXPECT_EQ(box.title, applicationTitle());
    EXPECT_EQ(box.text, QStringLiteral("Error No: 1801\r\nThe default printer cannot be read.\r\n"
                                       "Has occured in modPrinters.GetDefaultPrinter\r\n"
                                       "Please contact Technical Support"));
    EXPECT_EQ(box.icon, BoxIcon::None);
    EXPECT_EQ(box.buttons, BoxButtons::Ok);
}

// The job holds the document from the moment it is handed the file, and goes
// to whichever printer is the program's default.
TEST(Printers, TextPrinterJobs) {
    TestWorld world;
    const QString file = world.path(QStringLiteral("job.txt"));
    const QByteArray doc = "A\tB\t\r\n1\t2\t\r\n";
    testing::writeFile(file, doc);
    TextPrinterJob job = OpenInTextPrinter(file);
    // Read as a work file: never through a link.
    ASSERT_TRUE(QFile::link(file, world.path(QStringLiteral("link.txt"))));
    EXPECT_THROW(OpenInTextPrinter(world.path(QStringLiteral("link.txt"))), Failure);
    ASSERT_TRUE(QFile::remove(file));
    EXPECT_THROW(OpenInTextPrinter(file), Failure);

    const QString pdf = world.path(QStringLiteral("job.pdf"));
    const struct Case {
        const char* what;
        QString printer;
        QString answer;  // the PDF dialog's
        bool throws;
        std::vector<std::pair<QString, QByteArray>> printed;
        bool pdfWritten;
    } cases[] = {
        {"a system printer", kLaser, QString(), false, {{kLaser, doc}}, false},
        {"the PDF printer, cancelled", kPdf, QString(), false, {}, false},
        {"the PDF printer", kPdf, pdf, false, {}, true},
        {"a PDF that cannot be written",
         kPdf,
         world.path(QStringLiteral("none/x.pdf")),
         true,
         {},
         false},
    };
    for (const Case& c : cases) {
        world.printers->printed.clear();
        QFile::remove(pdf);
        ASSERT_TRUE(ChangeDefaultPrinter(c.printer)) << c.what;
        const size_t dialogs = world.dialogs->fileDialogs.size();
        world.dialogs->files = {c.answer};
        if (c.throws)
            EXPECT_THROW(job.start(), Failure) << c.what;
        else
            EXPECT_NO_THROW(job.start()) << c.what;
        EXPECT_EQ(world.printers->printed, c.printed) << c.what;
        EXPECT_EQ(QFile::exists(pdf), c.pdfWritten) << c.what;
        EXPECT_EQ(world.dialogs->fileDialogs.size(), dialogs + (c.printer == kPdf ? 1 : 0))
            << c.what;
        if (c.printer == kPdf) {
            EXPECT_EQ(world.dialogs->fileDialogs.back().title, QStringLiteral("Save PDF File As"));
            EXPECT_EQ(world.dialogs->fileDialogs.back().filter,
                      QStringLiteral("PDF Files (*.pdf)|*.pdf"));
        }
    }
    world.printers->failPrint = true;
    ASSERT_TRUE(ChangeDefaultPrinter(kLaser));
    EXPECT_THROW(job.start(), Failure);
}

// pdftotext -layout's text of a PDF, bidi controls dropped; null without
// pdftotext.
std::optional<QString> pdfText(const QString& path) {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (tool.isEmpty()) return std::nullopt;
    QProcess p;
    p.start(tool, {QStringLiteral("-layout"), path, QStringLiteral("-")});
    EXPECT_TRUE(p.waitForFinished(120000));
    QString text = QString::fromUtf8(p.readAllStandardOutput());
    text.remove(QRegularExpression(QStringLiteral("[\u200e\u200f\u202a-\u202e]")));
    return text;
}

// The command through the workspace: the work file is owner-only while it
// exists and gone afterwards, the default printer is back, and the PDF
// holds the cells' text in every script.
TEST(ExportPdf, ThroughTheWorkspace) {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext is not installed";
    TestWorld world;
    world.installFixedFiles();
    const QString db = world.path(QStringLiteral("scripts.mdb"));
    writeDatabase(db,
                  "CREATE TABLE People (ID LONG, Name TEXT(40), City TEXT(40), Note MEMO);\n"
                  "INSERT INTO People VALUES (1, 'Νίκος Παπαδόπουλος', 'Αθήνα', 'Ελληνικά');\n"
                  "INSERT INTO People VALUES (2, 'Анна Соколова', 'Москва', NULL);\n"
                  "INSERT INTO People VALUES (3, 'נועה לוי', 'תל אביב', 'שדרות רוטשילד');\n"
                  "INSERT INTO People VALUES (4, '山田 健一', '大阪', '中央区心斎橋筋');\n"
                  "INSERT INTO People VALUES (5, '김민지', '서울', '종로구 인사동길');\n"
                  "INSERT INTO People VALUES (6, 'Jörg Müller', 'Göteborg', 'a\tb');\n");
    world.writeSettings(db, QString());
    Application app;
    ASSERT_TRUE(app.start());
    Form2* f2 = app.loadedWorkspace();
    ASSERT_NE(f2, nullptr);
    child<QueryBox>(*f2, "Text1")->setText(QStringLiteral("SELECT * FROM People ORDER BY ID"));
    QTest::mouseClick(child<QPushButton>(*f2, "PushButton1"), Qt::LeftButton);

    const QString work = world.tempFolder() + QStringLiteral("/tmp.txt");
    int workMode = -1;
    world.hooks.onStarted = [&](const QString& procedure, int line) {
        struct stat st {};
        if (procedure == QStringLiteral("Form2.mnuPDF_Click") && line == 104)
            workMode = ::stat(QFile::encodeName(work).constData(), &st) == 0
                           ? static_cast<int>(st.st_mode & 0777)
                           : -1;
    };
    const QString pdf = world.path(QStringLiteral("people.pdf"));
    const QStringList cells = {"ID",
                               "Name",
                               "City",
                               "Note",
                               "Νίκος Παπαδόπουλος",
                               "Αθήνα",
                               "Ελληνικά",
                               "Анна Соколова",
                               "Москва",
                               "נועה לוי",
                               "תל אביב",
                               "שדרות רוטשילד",
                               "山田 健一",
                               "大阪",
                               "中央区心斎橋筋",
                               "김민지",
                               "서울",
                               "종로구 인사동길",
                               "Jörg Müller",
                               "Göteborg"};
    const struct Step {
        const char* what;
        QStringList installed;
        QString answer;
        bool dialog;
        bool written;
        const char* error;  // the reported line, if any
    } steps[] = {
        {"cancelled", {kLaser, kPdf}, QString(), true, false, nullptr},
        {"the PDF printer not installed", {kLaser}, pdf, false, false, nullptr},
        {"printed", {kLaser, kPdf}, pdf, true, true, nullptr},
        {"a PDF that cannot be written",
         {kLaser, kPdf},
         world.path(QStringLiteral("none/x.pdf")),
         true,
         false,
         "at line 112"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        QFile::remove(pdf);
        world.printers->list = s.installed;
        world.dialogs->files = {s.answer};
        const size_t dialogs = world.dialogs->fileDialogs.size();
        const qsizetype errors = world.dialogs->errorTexts().size();
        workMode = -1;
        f2->mnuPDF_Click();
        EXPECT_EQ(workMode, 0600);
        EXPECT_FALSE(QFile::exists(work));
        EXPECT_EQ(GetDefaultPrinter(), kLaser);
        EXPECT_EQ(world.dialogs->fileDialogs.size(), dialogs + (s.dialog ? 1 : 0));
        EXPECT_EQ(QFile::exists(pdf), s.written);
        EXPECT_TRUE(world.printers->printed.empty());
        const QStringList reported = world.dialogs->errorTexts().mid(errors);
        EXPECT_EQ(reported.size(), s.error ? 1 : 0);
        if (s.error && !reported.isEmpty()) {
            EXPECT_TRUE(reported[0].contains(QStringLiteral("Form2.mnuPDF_Click ") +
                                             QString::fromLatin1(s.error)))
                << reported[0].toStdString();
        }
        if (s.written) {
            const std::optional<QString> text = pdfText(pdf);
            ASSERT_TRUE(text);
            for (const QString& cell : cells)
                EXPECT_TRUE(text->contains(cell)) << cell.toStdString();
            // The TAB inside a value became a column of its own.
            EXPECT_TRUE(text->contains(QRegularExpression(QStringLiteral("Göteborg +a +b"))));
            EXPECT_TRUE(text->contains(QStringLiteral("Page 1 of 1")));
        }
    }
}

// A work file refused when it is to be written, a link planted in its place
// or another user's file, is not read afterwards: nothing it leads to
// reaches a printer, and it stays as it was.
TEST(ExportPdf, ARefusedWorkFileIsNeverRead) {
    TestWorld world;
    world.installFixedFiles();
    const QString db = world.path(QStringLiteral("shop.mdb"));
    writeDatabase(db, "CREATE TABLE T (Name TEXT(20));\nINSERT INTO T VALUES ('Ann');\n");
    world.writeSettings(db, QString());
    Application app;
    ASSERT_TRUE(app.start());
    Form2* f2 = app.loadedWorkspace();
    ASSERT_NE(f2, nullptr);
    child<QueryBox>(*f2, "Text1")->setText(QStringLiteral("SELECT * FROM T"));
    QTest::mouseClick(child<QPushButton>(*f2, "PushButton1"), Qt::LeftButton);

    const QString work = world.tempFolder() + QStringLiteral("/tmp.txt");
    const QString secret = world.path(QStringLiteral("secret.txt"));
    const QByteArray content = "Secret\t\r\nTop secret\t\r\n";
    const struct {
        const char* what;
        bool needsRoot;
        std::function<void()> plant;
        const char* refusal;
        QString unchanged;  // the file whose content must stay
    } cases[] = {
        {"a link to a file of ours", false, [&] { ASSERT_TRUE(QFile::link(secret, work)); },
         "is a symbolic link", secret},
        {"another user's file", true,
         [&] {
             testing::writeFile(work, content);
             ASSERT_EQ(::chown(QFile::encodeName(work).constData(), 65534, 65534), 0);
         },
         "belongs to another user", work},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && ::geteuid() != 0) continue;
        testing::writeFile(secret, content);
        c.plant();
        const QString pdf = world.path(QStringLiteral("out.pdf"));
        world.dialogs->files = {pdf};
        world.dialogs->menuChoices = {QStringLiteral("PDF")};
        const size_t dialogs = world.dialogs->fileDialogs.size();
        const qsizetype errors = world.dialogs->errorTexts().size();
        QTest::mouseClick(child<QPushButton>(*f2, "PushButton6"), Qt::LeftButton);

        const QStringList reported = world.dialogs->errorTexts().mid(errors);
        ASSERT_EQ(reported.size(), 1) << reported.join(u'\n').toStdString();
        EXPECT_TRUE(reported[0].contains(QStringLiteral("Form2.mnuPDF_Click at line 102")));
        EXPECT_TRUE(reported[0].contains(QString::fromLatin1(c.refusal)));
        EXPECT_EQ(world.dialogs->fileDialogs.size(), dialogs);
        EXPECT_FALSE(QFile::exists(pdf));
        EXPECT_TRUE(world.printers->printed.empty());
        EXPECT_EQ(GetDefaultPrinter(), kLaser);
        QFile f(c.unchanged);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), content);
        QFile::remove(work);
    }
}

}  // namespace
}  // namespace tab::gui
