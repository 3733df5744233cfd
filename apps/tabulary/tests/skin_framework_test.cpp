// The skin engine: which files it takes, which sections its sheet holds
// under each switch, and the program's own skin parsed by Qt.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>
#include <optional>

#include "app/failure.h"
#include "app/skin_framework.h"

namespace {

using tab::gui::Failure;
using tab::gui::SkinFramework;

const QByteArray kSignature = "/* Tabulary skin 1 */\n";

// Each part holds one rule only it has, so a sheet shows which parts it took.
const QByteArray kSectionedSkin = kSignature +
                                  "QWidget#base { color: #010101; }\n"
                                  "/* @section hover */\n"
                                  "QPushButton#hover:hover { color: #020202; }\n"
                                  "/* @section children */\n"
                                  "QLineEdit#children { color: #030303; }\n"
                                  "  /* @section focus */  \n"
                                  "QLineEdit#focus:focus { color: #040404; }\n";

class SkinTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString write(const QByteArray& bytes, const QString& name = QStringLiteral("o.cjs")) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return {};
        file.write(bytes);
        return path;
    }

    QTemporaryDir m_dir;
};

TEST_F(SkinTest, RefusedFiles) {
    struct Case {
        const char* name;
        std::optional<QByteArray> bytes;  // none: the file does not exist
        const char* reason;
    };
    const Case cases[] = {
        {"missing file", std::nullopt, "cannot be read"},
        {"empty file", QByteArray(), "is empty"},
        {"no signature", "QLabel { color: red; }\n", "first line"},
        {"signature on the second line", "\n" + kSignature, "first line"},
        {"signature with extra text", "/* Tabulary skin 1 */ QLabel {}\n", "first line"},
        {"other skin version", "/* Tabulary skin 2 */\n", "first line"},
        {"NUL byte", kSignature + QByteArray("QLabel {\0}\n", 11), "binary"},
        {"invalid UTF-8", kSignature + "QLabel { color: \xC3\x28; }\n", "UTF-8"},
        {"unknown section", kSignature + "/* @section pressed */\n", "unknown section"},
        {"repeated section", kSignature + "/* @section hover */\n/* @section hover */\n",
         "repeats"},
        {"bigger than 256 KiB", kSignature + QByteArray(256 * 1024, ' '), "bigger"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const QString path =
            test.bytes ? write(*test.bytes) : m_dir.filePath(QStringLiteral("absent.cjs"));
        ASSERT_FALSE(path.isEmpty());
        SkinFramework skin;
        try {
            skin.loadSkin(path, QString());
            ADD_FAILURE() << "no failure";
        } catch (const Failure& failure) {
            EXPECT_TRUE(failure.description().contains(QLatin1String(test.reason)))
                << failure.description().toStdString();
        }
        EXPECT_EQ(skin.styleSheet(), QString());
        QFile::remove(path);
    }
}

TEST_F(SkinTest, AcceptedFiles) {
    struct Case {
        const char* name;
        QByteArray bytes;
        QString iniName;
    };
    const QByteArray rule = "QLabel { color: #123456; }";
    const Case cases[] = {
        {"signature only", kSignature, QString()},
        {"no final line break", kSignature + rule, QString()},
        {"Windows line breaks", "/* Tabulary skin 1 */\r\n" + rule + "\r\n", QString()},
        {"byte order mark", "\xEF\xBB\xBF" + kSignature + rule + "\n", QString()},
        {"non-ASCII text", kSignature + "/* d\xC3\xA9j\xC3\xA0 */\n", QString()},
        {"variant name the skin does not define", kSignature + rule, QStringLiteral("BLUE.INI")},
        {"exactly 256 KiB", kSignature + QByteArray(256 * 1024 - kSignature.size(), ' '),
         QString()},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const QString path = write(test.bytes);
        ASSERT_FALSE(path.isEmpty());
        SkinFramework skin;
        ASSERT_NO_THROW(skin.loadSkin(path, test.iniName));
        const bool hasRule = test.bytes.contains(rule);
        EXPECT_EQ(skin.styleSheet().contains(QString::fromLatin1(rule)), hasRule);
        EXPECT_FALSE(skin.styleSheet().contains(QStringLiteral("Tabulary skin")));
    }
}

TEST_F(SkinTest, SheetHoldsTheSwitchedSections) {
    struct Case {
        bool children;
        bool hover;
        bool focus;
    };
    const Case cases[] = {
        {false, false, false}, {true, false, false}, {false, true, false}, {false, false, true},
        {true, true, false},   {true, false, true},  {false, true, true},  {true, true, true},
    };
    const QString path = write(kSectionedSkin);
    for (const Case& test : cases) {
        SCOPED_TRACE(testing::Message() << "children " << test.children << ", hover " << test.hover
                                        << ", focus " << test.focus);
        SkinFramework skin;
        skin.loadSkin(path, QString());
        skin.setOptions(test.children ? SkinFramework::kSkinChildControls : 0);
        skin.setHoverEffects(test.hover);
        skin.setFocusFrames(test.focus);
        const QString sheet = skin.styleSheet();
        EXPECT_TRUE(sheet.startsWith(QStringLiteral("QWidget#base")));
        EXPECT_EQ(sheet.contains(QStringLiteral("#children")), test.children);
        EXPECT_EQ(sheet.contains(QStringLiteral("#hover")), test.hover);
        EXPECT_EQ(sheet.contains(QStringLiteral("#focus")), test.focus);
        EXPECT_FALSE(sheet.contains(QStringLiteral("@section")));
    }
}

TEST_F(SkinTest, OtherOptionBitsDoNotSwitchChildren) {
    SkinFramework skin;
    skin.loadSkin(write(kSectionedSkin), QString());
    skin.setOptions(~SkinFramework::kSkinChildControls);
    EXPECT_FALSE(skin.styleSheet().contains(QStringLiteral("#children")));
}

TEST_F(SkinTest, FailedLoadKeepsTheLoadedSkin) {
    SkinFramework skin;
    skin.loadSkin(write(kSectionedSkin), QString());
    const QString before = skin.styleSheet();
    ASSERT_FALSE(before.isEmpty());
    EXPECT_THROW(skin.loadSkin(write("not a skin\n", QStringLiteral("bad.cjs")), QString()),
                 Failure);
    EXPECT_EQ(skin.styleSheet(), before);
}

TEST_F(SkinTest, ApplyWindow) {
    SkinFramework skin;
    QWidget window;
    EXPECT_EQ(skin.styleSheet(), QString());
    EXPECT_THROW(skin.applyWindow(&window), Failure);
    EXPECT_EQ(window.styleSheet(), QString());

    skin.loadSkin(write(kSectionedSkin), QString());
    EXPECT_THROW(skin.applyWindow(nullptr), Failure);
    skin.setHoverEffects(true);
    skin.applyWindow(&window);
    EXPECT_EQ(window.styleSheet(), skin.styleSheet());
    EXPECT_TRUE(window.styleSheet().contains(QStringLiteral("#hover")));
}

// Records Qt's warnings while it lives.
class WarningRecorder {
public:
    WarningRecorder() {
        s_warnings.clear();
        m_previous = qInstallMessageHandler(&WarningRecorder::record);
    }
    ~WarningRecorder() { qInstallMessageHandler(m_previous); }
    WarningRecorder(const WarningRecorder&) = delete;
    WarningRecorder& operator=(const WarningRecorder&) = delete;

    const QStringList& warnings() const { return s_warnings; }

private:
    static void record(QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtWarningMsg || type == QtCriticalMsg) s_warnings << message;
    }

    static inline QStringList s_warnings;
    QtMessageHandler m_previous = nullptr;
};

// The start window's controls, placed as the program places them.
struct StartWindow {
    StartWindow() {
        window.resize(536, 140);
        frame = new QGroupBox(QStringLiteral("Access Database"), &window);
        frame->setGeometry(8, 4, 520, 92);
        auto* fileLabel = new QLabel(QStringLiteral("File:"), frame);
        fileLabel->setGeometry(10, 24, 80, 20);
        auto* userLabel = new QLabel(QStringLiteral("User:"), frame);
        userLabel->setGeometry(10, 56, 80, 20);
        file = new QLineEdit(frame);
        file->setGeometry(96, 24, 380, 20);
        user = new QLineEdit(frame);
        user->setGeometry(96, 56, 200, 20);
        browse = new QPushButton(QStringLiteral("..."), frame);
        browse->setGeometry(482, 23, 28, 22);
        open = new QPushButton(QStringLiteral("Open"), &window);
        open->setGeometry(336, 104, 92, 28);
        auto* close = new QPushButton(QStringLiteral("Close"), &window);
        close->setGeometry(436, 104, 92, 28);
    }

    QWidget window;
    QGroupBox* frame = nullptr;
    QLineEdit* file = nullptr;
    QLineEdit* user = nullptr;
    QPushButton* browse = nullptr;
    QPushButton* open = nullptr;
};

QImage showAndGrab(QWidget& window) {
    window.show();
    QApplication::processEvents();
    return window.grab().toImage();
}

TEST(SkinWarnings, RecorderSeesAnUnparsableSheet) {
    // Without this the next test could pass with a recorder that hears nothing.
    WarningRecorder recorder;
    StartWindow start;
    start.window.setStyleSheet(QStringLiteral("QPushButton { color: red"));
    showAndGrab(start.window);
    EXPECT_TRUE(recorder.warnings().join('\n').contains(QStringLiteral("Could not parse")));
}

TEST(SkinWarnings, ProgramSkinParsesUnderEverySwitch) {
    SkinFramework skin;
    ASSERT_NO_THROW(skin.loadSkin(QStringLiteral(TABULARY_SKIN_SOURCE), QString()));
    for (int bits = 0; bits < 8; ++bits) {
        SCOPED_TRACE(bits);
        skin.setOptions(bits & 1 ? SkinFramework::kSkinChildControls : 0);
        skin.setHoverEffects(bits & 2);
        skin.setFocusFrames(bits & 4);
        WarningRecorder recorder;
        StartWindow start;
        start.file->setFocus();
        skin.applyWindow(&start.window);
        const QImage image = showAndGrab(start.window);
        EXPECT_TRUE(recorder.warnings().isEmpty()) << recorder.warnings().join('\n').toStdString();
        ASSERT_FALSE(image.isNull());
        // The empty, unfocused line edit's inside stays white in every case.
        const QPoint inside = start.user->mapTo(&start.window, start.user->rect().center());
        const QColor colour = image.pixelColor(inside);
        EXPECT_GE(colour.lightness(), 240) << colour.name().toStdString();
    }
}

TEST(SkinWarnings, ProgramSkinHasAllSections) {
    SkinFramework skin;
    skin.loadSkin(QStringLiteral(TABULARY_SKIN_SOURCE), QString());
    const QString base = skin.styleSheet();
    skin.setOptions(SkinFramework::kSkinChildControls);
    const QString children = skin.styleSheet();
    skin.setHoverEffects(true);
    const QString hover = skin.styleSheet();
    skin.setFocusFrames(true);
    const QString all = skin.styleSheet();
    EXPECT_TRUE(base.contains(QStringLiteral("QGroupBox")));
    EXPECT_FALSE(base.contains(QStringLiteral("QPushButton")));
    EXPECT_GT(children.size(), base.size());
    EXPECT_FALSE(children.contains(QStringLiteral("QPushButton:hover")));
    EXPECT_TRUE(hover.contains(QStringLiteral("QPushButton:hover")));
    EXPECT_FALSE(hover.contains(QStringLiteral("QLineEdit:focus")));
    EXPECT_TRUE(all.contains(QStringLiteral("QLineEdit:focus")));
    // The program sets fonts and sizes itself.
    for (const char* property : {"font-size", "font-family", "font:", "width", "height"}) {
        EXPECT_FALSE(all.contains(QLatin1String(property))) << property;
    }
}

}  // namespace
