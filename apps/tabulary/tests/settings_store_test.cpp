// The settings store and the program's folders, each test with a home, a
// config and a state folder of its own.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "app/app_paths.h"
#include "app/failure.h"
#include "app/settings_store.h"
#include "posix_test_support.h"

using tab::gui::Failure;
using tab::gui::ReadSetting;
using tab::gui::settingsSyncCounts;
using tab::gui::SettingsSyncCounts;
using tab::gui::SyncSettings;
using tab::gui::WriteSetting;

using tab::gui::testing::modeOf;
using tab::gui::testing::runningAsRoot;
using tab::gui::testing::UmaskGuard;

namespace {
long long g_fsyncCalls = 0;
}  // namespace

// Every fsync of this program passes here (the store is linked in), so the
// tests see the syncs the store really makes, not only those it counts.
extern "C" int fsync(int fd) {
    ++g_fsyncCalls;
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace {

// A byte string that may hold NUL bytes.
template <size_t N>
QByteArray raw(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

// Points HOME and the XDG folders into a private temporary folder and puts
// the caller's environment back afterwards.
class PrivateFolders : public ::testing::Test {
protected:
    static constexpr const char* kVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME",
                                                 "TEMP"};

    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        for (const char* name : kVariables)
            m_saved.push_back({qEnvironmentVariableIsSet(name), qgetenv(name)});
        qputenv("HOME", QFile::encodeName(path(QStringLiteral("home"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(path(QStringLiteral("config"))));
        qputenv("XDG_STATE_HOME", QFile::encodeName(path(QStringLiteral("state"))));
        qunsetenv("TEMP");
        ASSERT_TRUE(QDir().mkdir(path(QStringLiteral("home"))));
    }

    void TearDown() override {
        for (size_t i = 0; i < m_saved.size(); ++i) {
            if (m_saved[i].first)
                qputenv(kVariables[i], m_saved[i].second);
            else
                qunsetenv(kVariables[i]);
        }
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString configFolder() const { return path(QStringLiteral("config")); }
    QString settingsFile() const { return path(QStringLiteral("config/Quillmoor.ini")); }

    void writeSettingsFile(const QByteArray& bytes) const {
        QDir().mkpath(configFolder());
        QFile file(settingsFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    QByteArray settingsBytes() const {
        QFile file(settingsFile());
        if (!file.open(QIODevice::ReadOnly)) return "<unreadable>";
        return file.readAll();
    }

    QTemporaryDir m_dir;
    std::vector<std::pair<bool, QByteArray>> m_saved;
};

class Settings : public PrivateFolders {};
class AppPaths : public PrivateFolders {};

// --- Settings -----------------------------------------------------------------

TEST_F(Settings, FirstRunGivesDefaultsAndWritesNothing) {
    EXPECT_EQ(ReadSetting(QStringLiteral("FontSize"), QStringLiteral("10")), QStringLiteral("10"));
    EXPECT_EQ(ReadSetting(QStringLiteral("Empty"), QString()), QString());
    EXPECT_FALSE(QFileInfo::exists(configFolder()));

    // Nor does reading an existing file change it.
    const QByteArray content = "[Tabulary]\r\nA=1\r\n";
    writeSettingsFile(content);
    EXPECT_EQ(ReadSetting(QStringLiteral("A"), QString()), QStringLiteral("1"));
    EXPECT_EQ(ReadSetting(QStringLiteral("B"), QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_EQ(settingsBytes(), content);
}

TEST_F(Settings, ValuesComeBackExactly) {
    const QString values[] = {
        QStringLiteral("plain"),
        QStringLiteral(" a b "),
        QString(),
        QStringLiteral("   "),
        QStringLiteral("x=y=z"),
        QStringLiteral("=leading"),
        QStringLiteral(";not a comment"),
        QStringLiteral("#not a comment"),
        QStringLiteral("[Tabulary]"),
        QStringLiteral("back\\slash\\"),
        QStringLiteral("C:\\new\\rtf\\n"),
        QStringLiteral("\\\\server\\share"),
        QStringLiteral("line1\r\nline2\n"),
        QStringLiteral("\r"),
        QStringLiteral("\n\n"),
        QStringLiteral("tab\there"),
        QStringLiteral("caf") + QChar(0xE9) + QChar(0x20AC) + QString::fromUcs4(U"\U0001F600", 1),
        QStringLiteral("nul") + QChar(0) + QStringLiteral("inside"),
    };
    int index = 0;
    for (const QString& value : values) {
        SCOPED_TRACE(value.toStdString());
        const QString key = QStringLiteral("Key%1").arg(index++);
        WriteSetting(key, value);
        EXPECT_EQ(ReadSetting(key, QStringLiteral("default")), value);
    }
    // Later writes left the earlier values alone, one line each.
    index = 0;
    for (const QString& value : values) {
        SCOPED_TRACE(value.toStdString());
        EXPECT_EQ(ReadSetting(QStringLiteral("Key%1").arg(index++), QStringLiteral("default")),
                  value);
    }
    EXPECT_EQ(settingsBytes().count('\n'), qsizetype{std::size(values)} + 1);
    EXPECT_TRUE(settingsBytes().startsWith("[Tabulary]\nKey0=plain\nKey1= a b \n"));
}

TEST_F(Settings, WritesAreStoredAtOnceAndSyncedOnlyWhenAsked) {
    SyncSettings();  // whatever an earlier test left pending
    const SettingsSyncCounts start = settingsSyncCounts();
    const long long startCalls = g_fsyncCalls;
    const QByteArray config = QFile::encodeName(configFolder());
    const QByteArray otherConfig = QFile::encodeName(path(QStringLiteral("other/config")));
    const auto write = [](const char* key, const char* value) {
        WriteSetting(QString::fromLatin1(key), QString::fromLatin1(value));
    };
    struct Step {
        const char* name;
        std::function<void()> act;
        long long syncs;   // since the start
        long long fsyncs;  // since the start: counted by the store and really made
        QByteArray file;   // afterwards
    };
    const QByteArray both = "[Tabulary]\nDatabase=C:\nPassword=p\n";
    const Step steps[] = {
        {"sync with nothing written", SyncSettings, 0, 0, "<unreadable>"},
        {"first write", [&] { write("Database", "C"); }, 0, 0, "[Tabulary]\nDatabase=C\n"},
        {"more writes",
         [&] {
             write("Database", "C:");
             write("Password", "p");
         },
         0, 0, both},
        {"sync: the file and its folder", SyncSettings, 1, 2, both},
        {"sync again: nothing pending", SyncSettings, 1, 2, both},
        {"file removed before the sync: its folder only",
         [&] {
             write("Database", "D");
             QFile::remove(settingsFile());
             SyncSettings();
         },
         2, 3, "<unreadable>"},
        {"two settings paths, one sync",
         [&] {
             write("A", "1");
             qputenv("XDG_CONFIG_HOME", otherConfig);
             write("A", "2");
             qputenv("XDG_CONFIG_HOME", config);
             SyncSettings();
         },
         3, 7, "[Tabulary]\nA=1\n"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        EXPECT_EQ(settingsSyncCounts().syncs - start.syncs, step.syncs);
        EXPECT_EQ(settingsSyncCounts().fsyncs - start.fsyncs, step.fsyncs);
        EXPECT_EQ(g_fsyncCalls - startCalls, step.fsyncs);
        EXPECT_EQ(settingsBytes(), step.file);
    }

    // A sync that fails names the file, and what failed is not pending any
    // more. A pipe in the file's place cannot be synced.
    write("A", "3");
    ASSERT_TRUE(QFile::remove(settingsFile()));
    ASSERT_EQ(::mkfifo(QFile::encodeName(settingsFile()).constData(), 0600), 0);
    try {
        SyncSettings();
        ADD_FAILURE() << "no Failure";
    } catch (const Failure& failure) {
        EXPECT_TRUE(failure.description().contains(settingsFile())) << failure.what();
        EXPECT_TRUE(failure.description().contains(QString::fromLocal8Bit(std::strerror(EINVAL))))
            << failure.what();
    }
    const SettingsSyncCounts failed = settingsSyncCounts();
    SyncSettings();
    EXPECT_EQ(settingsSyncCounts().syncs, failed.syncs);
    EXPECT_EQ(settingsSyncCounts().fsyncs, failed.fsyncs);
}

TEST_F(Settings, FileAndFolderAreOwnerOnlyWhateverTheUmask) {
    const mode_t masks[] = {0, 022, 0277};
    for (const mode_t mask : masks) {
        SCOPED_TRACE(mask);
        const QString top = QStringLiteral("umask%1").arg(mask);
        const QString folder = path(top + QStringLiteral("/b/config"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder));
        {
            UmaskGuard guard(mask);
            WriteSetting(QStringLiteral("Password"), QStringLiteral(" secret "));
        }
        const QString file = folder + QStringLiteral("/Quillmoor.ini");
        EXPECT_EQ(modeOf(file), mode_t{0600});
        for (const QString& made : {path(top), path(top + QStringLiteral("/b")), folder})
            EXPECT_EQ(modeOf(made), mode_t{0700}) << made.toStdString();
        EXPECT_EQ(ReadSetting(QStringLiteral("Password"), QString()), QStringLiteral(" secret "));

        // A file the user made readable by others is owner-only once
        // rewritten, and no temporary file stays behind.
        ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
        {
            UmaskGuard guard(mask);
            WriteSetting(QStringLiteral("Password"), QStringLiteral("other"));
        }
        EXPECT_EQ(modeOf(file), mode_t{0600});
        EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("Quillmoor.ini")});
    }
}

TEST_F(Settings, EverythingElseInTheFileIsKept) {
    writeSettingsFile(
        "; Quillmoor settings\r\n"
        "[Other]\r\n"
        "FontSize=99\r\n"
        "Path=C:\\x\r\n"
        "\r\n"
        "# another comment\n"
        "[Tabulary]\n"
        "FontSize=10\n"
        "; note inside\n"
        "Unknown = kept  \n"
        "\n"
        "[Later]\n"
        "key=value");
    EXPECT_EQ(ReadSetting(QStringLiteral("fontsize"), QString()), QStringLiteral("10"));
    EXPECT_EQ(ReadSetting(QStringLiteral("Unknown"), QString()), QStringLiteral(" kept  "));
    EXPECT_EQ(ReadSetting(QStringLiteral("Path"), QStringLiteral("none")), QStringLiteral("none"));
    EXPECT_EQ(ReadSetting(QStringLiteral("key"), QStringLiteral("none")), QStringLiteral("none"));

    WriteSetting(QStringLiteral("FontSize"), QStringLiteral("12"));
    WriteSetting(QStringLiteral("NewKey"), QStringLiteral("v"));
    EXPECT_EQ(settingsBytes(),
              "; Quillmoor settings\n"
              "[Other]\n"
              "FontSize=99\n"
              "Path=C:\\x\n"
              "\n"
              "# another comment\n"
              "[Tabulary]\n"
              "FontSize=12\n"
              "; note inside\n"
              "Unknown = kept  \n"
              "NewKey=v\n"
              "\n"
              "[Later]\n"
              "key=value\n");
}

TEST_F(Settings, GroupIsAddedAtTheEndWhenMissing) {
    struct Case {
        const char* name;
        QByteArray before;
        QByteArray after;
    };
    const Case cases[] = {
        {"empty file", "", "[Tabulary]\nX=1\n"},
        {"no final line end", "[Other]\na=b", "[Other]\na=b\n\n[Tabulary]\nX=1\n"},
        {"final blank line", "[Other]\na=b\n\n", "[Other]\na=b\n\n[Tabulary]\nX=1\n"},
        {"comment only", "; hello\r\n", "; hello\n\n[Tabulary]\nX=1\n"},
        {"group without keys", "[Tabulary]\n[Next]\nX=2\n", "[Tabulary]\nX=1\n[Next]\nX=2\n"},
        {"byte order mark", "\xEF\xBB\xBF[Tabulary]\nX=0\n", "\xEF\xBB\xBF[Tabulary]\nX=1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeSettingsFile(c.before);
        WriteSetting(QStringLiteral("X"), QStringLiteral("1"));
        EXPECT_EQ(settingsBytes(), c.after);
        EXPECT_EQ(ReadSetting(QStringLiteral("X"), QString()), QStringLiteral("1"));
    }
}

TEST_F(Settings, KeysAndGroupNamesIgnoreCase) {
    WriteSetting(QStringLiteral("FontSize"), QStringLiteral("12"));
    EXPECT_EQ(ReadSetting(QStringLiteral("fontsize"), QString()), QStringLiteral("12"));
    EXPECT_EQ(ReadSetting(QStringLiteral(" FONTSIZE "), QString()), QStringLiteral("12"));
    WriteSetting(QStringLiteral("FONTSIZE"), QStringLiteral("14"));
    EXPECT_EQ(ReadSetting(QStringLiteral("FontSize"), QString()), QStringLiteral("14"));
    EXPECT_EQ(settingsBytes(), "[Tabulary]\nFontSize=14\n");

    writeSettingsFile("[ tabulary ]\r\n  Zoom  =150\r\n");
    EXPECT_EQ(ReadSetting(QStringLiteral("zoom"), QString()), QStringLiteral("150"));
    WriteSetting(QStringLiteral("ZOOM"), QStringLiteral("200"));
    EXPECT_EQ(settingsBytes(), "[ tabulary ]\n  Zoom  =200\n");
}

TEST_F(Settings, KeysThatCannotBeWrittenAreRefused) {
    const QString keys[] = {QString(),
                            QStringLiteral("  "),
                            QStringLiteral("a=b"),
                            QStringLiteral("a\nb"),
                            QStringLiteral("[x]"),
                            QStringLiteral(";c")};
    for (const QString& key : keys) {
        SCOPED_TRACE(key.toStdString());
        EXPECT_THROW(WriteSetting(key, QStringLiteral("v")), Failure);
    }
    EXPECT_FALSE(QFileInfo::exists(settingsFile()));
}

TEST_F(Settings, NeverWritesThroughALink) {
    QDir().mkpath(configFolder());
    const QString target = path(QStringLiteral("elsewhere.ini"));
    {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Tabulary]\nK=old\n");
    }
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(),
                        QFile::encodeName(settingsFile()).constData()),
              0);
    try {
        WriteSetting(QStringLiteral("K"), QStringLiteral("new"));
        ADD_FAILURE() << "no Failure";
    } catch (const Failure& failure) {
        EXPECT_TRUE(failure.description().contains(QStringLiteral("is a symbolic link")))
            << failure.what();
        EXPECT_TRUE(failure.description().contains(settingsFile())) << failure.what();
    }
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "[Tabulary]\nK=old\n");
    EXPECT_TRUE(QFileInfo(settingsFile()).isSymLink());
    // Reading through the link is harmless and allowed.
    EXPECT_EQ(ReadSetting(QStringLiteral("K"), QString()), QStringLiteral("old"));

    // A link to nothing does not create its target either.
    ASSERT_EQ(::unlink(QFile::encodeName(settingsFile()).constData()), 0);
    const QString missing = path(QStringLiteral("missing.ini"));
    ASSERT_EQ(::symlink(QFile::encodeName(missing).constData(),
                        QFile::encodeName(settingsFile()).constData()),
              0);
    EXPECT_THROW(WriteSetting(QStringLiteral("K"), QStringLiteral("new")), Failure);
    EXPECT_FALSE(QFileInfo::exists(missing));
}

TEST_F(Settings, GarbageNeverCrashes) {
    std::mt19937 random(20240611);
    auto randomBytes = [&random](qsizetype size) {
        QByteArray bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
        return bytes;
    };
    struct Case {
        const char* name;
        QByteArray bytes;
        bool writable;  // small enough to be rewritten
    };
    const Case cases[] = {
        {"random", randomBytes(4096), true},
        {"random with group", "[Tabulary]\n" + randomBytes(4096), true},
        {"nul bytes", QByteArray(1000, '\0'), true},
        {"nul in key", raw("[Tabulary]\nK\0ey=1\nKey=\0v\n"), true},
        {"no newline", "[Tabulary]\nKey=no end", true},
        {"unclosed group", "[Tabulary\nKey=1\n", true},
        {"only equals", "=\n==\n[Tabulary]\n=\n", true},
        {"key without value", "[Tabulary]\nKey\n", true},
        {"invalid utf-8", "[Tab\xFFulary]\n\xC0\x80=\xED\xA0\x80\n", true},
        {"lone cr", "[Tabulary]\rKey=1\r", true},
        {"long line", "[Tabulary]\nKey=" + QByteArray(2 << 20, 'x'), false},
        {"long random", randomBytes(3 << 20), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeSettingsFile(c.bytes);
        try {
            const QString value = ReadSetting(QStringLiteral("Key"), QStringLiteral("d"));
            EXPECT_LE(value.size(), c.bytes.size() + 1);
        } catch (const Failure&) {
        }
        if (c.writable) {
            WriteSetting(QStringLiteral("Key"), QStringLiteral("fresh"));
            EXPECT_EQ(ReadSetting(QStringLiteral("Key"), QStringLiteral("d")),
                      QStringLiteral("fresh"));
        } else {
            EXPECT_THROW(WriteSetting(QStringLiteral("Key"), QStringLiteral("fresh")), Failure);
            EXPECT_EQ(settingsBytes(), c.bytes);
        }
    }
}

TEST_F(Settings, NulAndInvalidBytesInValuesAreRead) {
    writeSettingsFile(raw("[Tabulary]\nA=x\0y\nB=caf\xE9\n"));
    EXPECT_EQ(ReadSetting(QStringLiteral("A"), QString()),
              QStringLiteral("x") + QChar(0) + QStringLiteral("y"));
    EXPECT_EQ(ReadSetting(QStringLiteral("B"), QString()), QStringLiteral("caf") + QChar(0xE9));
}

TEST_F(Settings, FilesThatCannotBeUsedThrow) {
    // The settings path is a folder.
    ASSERT_TRUE(QDir().mkpath(settingsFile()));
    EXPECT_THROW(ReadSetting(QStringLiteral("A"), QString()), Failure);
    EXPECT_THROW(WriteSetting(QStringLiteral("A"), QStringLiteral("v")), Failure);
    ASSERT_TRUE(QDir().rmdir(settingsFile()));

    // The config folder is a file: nothing to read, nothing can be written.
    {
        QFile file(path(QStringLiteral("plain-file")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path(QStringLiteral("plain-file"))));
    EXPECT_EQ(ReadSetting(QStringLiteral("A"), QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_THROW(WriteSetting(QStringLiteral("A"), QStringLiteral("v")), Failure);
}

TEST_F(Settings, UnreadableFileThrowsWithTheReason) {
    if (runningAsRoot()) GTEST_SKIP() << "root reads every file";
    writeSettingsFile("[Tabulary]\nA=1\n");
    ASSERT_EQ(::chmod(QFile::encodeName(settingsFile()).constData(), 0), 0);
    try {
        ReadSetting(QStringLiteral("A"), QString());
        ADD_FAILURE() << "no Failure";
    } catch (const Failure& failure) {
        EXPECT_TRUE(failure.description().contains(settingsFile())) << failure.what();
        EXPECT_TRUE(failure.description().contains(QString::fromLocal8Bit(std::strerror(EACCES))))
            << failure.what();
    }
}

TEST_F(Settings, ReadOnlyFolderThrowsOnWrite) {
    if (runningAsRoot()) GTEST_SKIP() << "root writes in every folder";
    writeSettingsFile("[Tabulary]\nA=1\n");
    ASSERT_EQ(::chmod(QFile::encodeName(configFolder()).constData(), 0555), 0);
    EXPECT_THROW(WriteSetting(QStringLiteral("A"), QStringLiteral("2")), Failure);
    ::chmod(QFile::encodeName(configFolder()).constData(), 0700);
    EXPECT_EQ(settingsBytes(), "[Tabulary]\nA=1\n");
}

// --- AppPaths -----------------------------------------------------------------

TEST_F(AppPaths, SettingsFileFollowsXdgConfigHome) {
    struct Case {
        const char* name;
        bool set;
        QString value;
        QString expected;
    };
    const QString home = path(QStringLiteral("home"));
    const Case cases[] = {
        {"set", true, path(QStringLiteral("cfg")), path(QStringLiteral("cfg/Quillmoor.ini"))},
        {"trailing slash", true, path(QStringLiteral("cfg/")),
         path(QStringLiteral("cfg/Quillmoor.ini"))},
        {"unset", false, QString(), home + QStringLiteral("/.config/Quillmoor.ini")},
        {"empty", true, QString(), home + QStringLiteral("/.config/Quillmoor.ini")},
        {"relative", true, QStringLiteral("cfg"), home + QStringLiteral("/.config/Quillmoor.ini")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.set)
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(c.value));
        else
            qunsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(tab::gui::settingsFilePath(), c.expected);
    }
}

// TEMP naming no folder is not made: the private folder is used instead.
TEST_F(AppPaths, TempNamingNoFolderIsNotUsed) {
    const QString values[] = {path(QStringLiteral("not-there")),
                              path(QStringLiteral("not-there")) + QLatin1Char('/'),
                              QStringLiteral("relative/dir/")};
    for (const QString& value : values) {
        SCOPED_TRACE(value.toStdString());
        qputenv("TEMP", QFile::encodeName(value));
        EXPECT_EQ(tab::gui::tempFolder(), path(QStringLiteral("state/tabulary")));
        EXPECT_FALSE(QFileInfo::exists(value));
    }
}

TEST_F(AppPaths, TempFolderIsAPrivateFolderInTheStateHome) {
    const QString home = path(QStringLiteral("home"));
    struct Case {
        const char* name;
        bool tempSet;           // TEMP set, but empty
        const char* stateHome;  // nullptr: unset
        QString expected;
        mode_t mask;
    };
    const Case cases[] = {
        {"temp unset", false, "state", path(QStringLiteral("state/tabulary")), 0},
        {"temp empty", true, "deeper/state", path(QStringLiteral("deeper/state/tabulary")), 022},
        {"state home unset", false, nullptr, home + QStringLiteral("/.local/state/tabulary"), 0},
        {"state home empty", true, "", home + QStringLiteral("/.local/state/tabulary"), 0277},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(path(QStringLiteral("state"))).removeRecursively();
        QDir(home + QStringLiteral("/.local")).removeRecursively();
        if (c.tempSet)
            qputenv("TEMP", "");
        else
            qunsetenv("TEMP");
        if (!c.stateHome)
            qunsetenv("XDG_STATE_HOME");
        else if (!*c.stateHome)
            qputenv("XDG_STATE_HOME", "");
        else
            qputenv("XDG_STATE_HOME", QFile::encodeName(path(QString::fromLatin1(c.stateHome))));
        QString folder;
        {
            UmaskGuard guard(c.mask);
            folder = tab::gui::tempFolder();
        }
        EXPECT_EQ(folder, c.expected);
        EXPECT_TRUE(QFileInfo(c.expected).isDir());
        EXPECT_EQ(modeOf(c.expected), mode_t{0700});
    }
}

TEST_F(AppPaths, TempFolderIsNarrowedOrGivenUp) {
    const QString folder = path(QStringLiteral("state/tabulary"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    EXPECT_EQ(tab::gui::tempFolder(), folder);
    EXPECT_EQ(modeOf(folder), mode_t{0700});

    // A file where the state home should be: no folder can be made.
    {
        QFile file(path(QStringLiteral("blocked")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    qputenv("XDG_STATE_HOME", QFile::encodeName(path(QStringLiteral("blocked"))));
    EXPECT_EQ(tab::gui::tempFolder(), QString());
}

TEST_F(AppPaths, ApplicationFolderDefaultsToTheExecutables) {
    EXPECT_EQ(tab::gui::applicationFolder(), QCoreApplication::applicationDirPath());
    tab::gui::setApplicationFolder(path(QStringLiteral("app")));
    EXPECT_EQ(tab::gui::applicationFolder(), path(QStringLiteral("app")));
    tab::gui::setApplicationFolder(QString());
    EXPECT_EQ(tab::gui::applicationFolder(), QCoreApplication::applicationDirPath());
}

}  // namespace
