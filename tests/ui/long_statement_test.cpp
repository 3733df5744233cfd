// Statements that run long: the window stays live while they read, only
// Escape, "< Back", the close box and scrolling act, each of the three stops
// the statement, and the grid keeps no more rows than its budget.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/application.h"
#include "app/start_window.h"
#include "app/theme.h"
#include "ui_support.h"
#include "workspace/query_box.h"
#include "workspace/results_grid.h"
#include "workspace/workspace_window.h"

namespace tab::gui {
namespace {

using testing::child;
using testing::TestWorld;
using testing::writeDatabase;

std::string numbersScript() {
    std::string s = "CREATE TABLE N (ID LONG);\nCREATE TABLE Copy (ID LONG);\n";
    for (int i = 1; i <= 100; ++i) s += "INSERT INTO N VALUES (" + std::to_string(i) + ");\n";
    return s;
}

// Ten billion rows: no run ends by itself within a test.
const char* const kEndless = "SELECT * FROM N AS a, N AS b, N AS c, N AS d, N AS e";
const char* const kEndlessInsert =
    "INSERT INTO Copy (ID) SELECT a.ID FROM N AS a, N AS b, N AS c, N AS d, N AS e";

// One program on the numbers database, with the grid's budget set for it.
class Program {
public:
    explicit Program(size_t budget) : m_savedBudget(services().gridBudget()) {
        world.installFixedFiles();
        const QString db = world.path(QStringLiteral("numbers.mdb"));
        writeDatabase(db, numbersScript());
        world.writeSettings(db, QString());
        services().setGridBudget(budget);
        EXPECT_TRUE(app.start());
        f2 = app.loadedWorkspace();
    }
    ~Program() {
        services().setGridBudget(m_savedBudget);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Executes `sql`; once it runs, `during` is called on each tick of a
    // 5 ms timer with the tick's number. The ticks handled while the
    // statement ran are counted.
    int execute(const QString& sql, const std::function<void(Form2&, int tick)>& during = {}) {
        int ticks = 0;
        child<QueryBox>(*f2, "Text1")->setText(sql);
        QTimer timer;
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (!f2 || !f2->statementRunning()) return;
            ++ticks;
            if (during) during(*f2, ticks);
        });
        timer.start();
        QTest::mouseClick(child<QPushButton>(*f2, "PushButton1"), Qt::LeftButton);
        return ticks;
    }
    QByteArray history() const {
        QFile f(world.tempFolder() + QStringLiteral("/LogFile.log"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The boxes other than "Application Error".
    QStringList plainBoxes() const {
        QStringList out;
        for (const MessageBox& b : world.dialogs->boxes)
            if (b.title != QStringLiteral("Application Error")) out << b.text;
        return out;
    }
    QString caption() const { return child<QGroupBox>(*f2, "Frame1")->title(); }

    TestWorld world;
    Application app;
    QPointer<Form2> f2;

private:
    size_t m_savedBudget;
};

void postEscape(Form2& f2) {
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &f2;
    QCoreApplication::postEvent(target,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
}

TEST(LongStatement, EscapeBackAndTheCloseBoxStopTheStatement) {
    const struct {
        const char* name;
        const char* sql;
        std::function<void(Form2&)> stop;
        bool rowsKept;      // the grid shows what was read, with the "stopped" box
        bool changeFailed;  // line 138 reported, and no count
        bool left;          // the workspace has gone
        bool ended;         // and the program with it
    } cases[] = {
        {"Escape, a SELECT", kEndless, postEscape, true, false, false, false},
        {"< Back, a SELECT", kEndless,
         [](Form2& f2) {
             QTest::mouseClick(child<QPushButton>(f2, "PushButton4"), Qt::LeftButton);
         },
         false, false, true, false},
        {"close box, a SELECT", kEndless, [](Form2& f2) { f2.close(); }, false, false, true, true},
        {"Escape, a change", kEndlessInsert, postEscape, false, true, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Program p(size_t{256} << 20);
        ASSERT_NE(p.f2, nullptr);
        auto* text1 = child<QueryBox>(*p.f2, "Text1");
        const int ticks = p.execute(QString::fromLatin1(c.sql), [&](Form2& f2, int tick) {
            if (tick == 2) {
                QTest::keyClicks(text1, QStringLiteral("xyz"));
                QTest::mouseClick(child<QPushButton>(f2, "PushButton2"), Qt::LeftButton);
            }
            if (tick == 4) c.stop(f2);
        });
        EXPECT_GE(ticks, 4) << "the timer ran while the statement did";
        EXPECT_EQ(!p.f2 || p.f2->unloaded(), c.left);
        EXPECT_EQ(services().programEnded(), c.ended);
        // Keys and clicks other than the stop were dropped, not queued.
        if (!c.left) {
            EXPECT_EQ(text1->text(), QString::fromLatin1(c.sql));
            EXPECT_EQ(p.f2->pointer().value(), kPointerDefault);
        }
        EXPECT_TRUE(p.history().endsWith(QByteArray(c.sql) + "\r\n")) << p.history().toStdString();
        const QStringList errors = p.world.dialogs->errorTexts();
        if (c.changeFailed) {
            ASSERT_EQ(errors.size(), 1);
            EXPECT_TRUE(errors[0].contains(QStringLiteral("stopped before it finished")));
            EXPECT_TRUE(errors[0].contains(QStringLiteral("at line 138")));
        } else {
            EXPECT_TRUE(errors.isEmpty()) << errors.join(u'\n').toStdString();
        }
        const QStringList plain = p.plainBoxes();
        if (c.rowsKept) {
            const qsizetype rows = p.f2->grid().rowCount();
            EXPECT_GT(rows, 0);
            EXPECT_EQ(p.caption(),
                      QStringLiteral("Results - Number of Records: ") + QString::number(rows));
            ASSERT_EQ(plain.size(), 1);
            EXPECT_TRUE(plain[0].startsWith(
                QStringLiteral("The statement was stopped after %1 rows.\r\n").arg(rows)))
                << plain[0].toStdString();
            EXPECT_TRUE(plain[0].contains(QStringLiteral("--format csv --output")));
            EXPECT_TRUE(child<QPushButton>(*p.f2, "PushButton6")->isEnabled());
        } else {
            EXPECT_TRUE(plain.isEmpty()) << plain.join(u'\n').toStdString();
        }
        if (c.changeFailed) {
            // Nothing of the stopped change reached the file.
            p.execute(QStringLiteral("select * from Copy"));
            EXPECT_EQ(p.f2->grid().rowCount(), 0);
            EXPECT_EQ(p.world.dialogs->errorTexts().size(), 1);
        }
        if (c.left && !c.ended) {
            EXPECT_TRUE(p.app.startWindow().isVisible());
        }
    }
}

// A result past the budget stops there: the rows read stay, counted in the
// caption, with one box that says so and how to get them all.
TEST(LongStatement, AResultPastTheBudgetIsCutThere) {
    const size_t budget = size_t{1} << 20;
    Program p(budget);
    ASSERT_NE(p.f2, nullptr);
    p.execute(QStringLiteral("SELECT a.ID, b.ID, c.ID FROM N AS a, N AS b, N AS c"));
    const qsizetype rows = p.f2->grid().rowCount();
    EXPECT_GT(rows, 10000);
    EXPECT_LT(rows, 1000000);
    EXPECT_LE(p.f2->grid().heldBytes(), 2 * budget);
    EXPECT_EQ(p.caption(), QStringLiteral("Results - Number of Records: ") + QString::number(rows));
    const QStringList plain = p.plainBoxes();
    ASSERT_EQ(plain.size(), 1);
    EXPECT_TRUE(plain[0].startsWith(
        QStringLiteral("The result was cut at %1 rows: the grid holds at most 1 MB of rows.\r\n")
            .arg(rows)))
        << plain[0].toStdString();
    EXPECT_TRUE(plain[0].contains(QStringLiteral("\"Save Results As\" writes only these rows.")));
    EXPECT_TRUE(p.world.dialogs->errorTexts().isEmpty());
    // The rows kept are the first ones, complete.
    EXPECT_EQ(p.f2->grid().cellText(rows - 1, 2), QString::number((rows - 1) % 100 + 1));
}

}  // namespace
}  // namespace tab::gui
