// The work folder as the workspace uses it: a history file there that
// belongs to another user is neither read nor appended to, and each refusal
// is reported in the error box with its line.
#include <gtest/gtest.h>

#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <sys/stat.h>
#include <unistd.h>

#include "app/application.h"
#include "tests/posix_test_support.h"
#include "ui_support.h"
#include "workspace/query_box.h"
#include "workspace/workspace_window.h"

namespace tab::gui {
namespace {

using testing::child;
using testing::TestWorld;
using testing::writeDatabase;

// A user no test runs as.
constexpr uid_t kOtherUser = 65534;

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

uid_t ownerOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_uid : uid_t(-1);
}

// The first error box of `procedure`, "" when there is none.
QString errorOf(const QStringList& errors, const QString& procedure) {
    const QString source = QStringLiteral("in Ravelin2021/08/31.") + procedure + u' ';
    for (const QString& text : errors)
        if (text.contains(source)) return text;
    return QString();
}

TEST(WorkFolder, AHistoryFileOfAnotherUserIsNeitherReadNorAppendedTo) {
    if (!testing::runningAsRoot()) GTEST_SKIP() << "giving a file to another user needs root";
    TestWorld world;
    world.installFixedFiles();
    const QString db = world.path(QStringLiteral("shop.mdb"));
    writeDatabase(db,
                  "CREATE TABLE orders (OrderID LONG);\n"
                  "INSERT INTO orders VALUES (7);\n");
    world.writeSettings(db, QString());
    const QString history = world.tempFolder() + QStringLiteral("/LogFile.log");
    const QByteArray planted = "SELECT * FROM planted\r\n";
    {
        QFile f(history);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(planted), planted.size());
    }
    ASSERT_EQ(::chown(QFile::encodeName(history).constData(), kOtherUser, kOtherUser), 0);

    Application app;
    ASSERT_TRUE(app.start());
    Form2* f2 = app.loadedWorkspace();
    ASSERT_NE(f2, nullptr);
    auto* listView = child<QTreeWidget>(*f2, "ListView1");

    // Loading the workspace: line 132 refuses the file, nothing is listed.
    const QStringList loadErrors = world.dialogs->errorTexts();
    EXPECT_EQ(loadErrors.size(), 1) << loadErrors.join(u'\n').toStdString();
    const QString load = loadErrors.value(0);
    EXPECT_TRUE(load.contains(QStringLiteral("Form2.Form_Load at line 132\r\r")))
        << load.toStdString();
    EXPECT_TRUE(load.contains(history)) << load.toStdString();
    EXPECT_TRUE(load.contains(QStringLiteral("belongs to another user"))) << load.toStdString();
    EXPECT_EQ(listView->topLevelItemCount(), 0);

    // Execute: the statement runs, line 142 refuses to open the file for
    // appending, and the file keeps its content and owner.
    child<QueryBox>(*f2, "Text1")->setText(QStringLiteral("SELECT * FROM orders"));
    QTest::mouseClick(child<QPushButton>(*f2, "PushButton1"), Qt::LeftButton);
    EXPECT_EQ(child<QGroupBox>(*f2, "Frame1")->title(),
              QStringLiteral("Results - Number of Records: 1"));
    const QStringList executeErrors = world.dialogs->errorTexts().mid(loadErrors.size());
    const QString execute = errorOf(executeErrors, QStringLiteral("Form2.PushButton1_Click"));
    EXPECT_FALSE(execute.isEmpty()) << executeErrors.join(u'\n').toStdString();
    EXPECT_TRUE(execute.contains(QStringLiteral("Form2.PushButton1_Click at line 142\r\r")))
        << execute.toStdString();
    EXPECT_TRUE(execute.contains(history)) << execute.toStdString();
    EXPECT_TRUE(execute.contains(QStringLiteral("belongs to another user")))
        << execute.toStdString();
    EXPECT_EQ(contentOf(history), planted);
    EXPECT_EQ(ownerOf(history), kOtherUser);
    EXPECT_EQ(listView->topLevelItemCount(), 0);
}

}  // namespace
}  // namespace tab::gui
