// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged settings and language files: read without blocking, never
// rewritten on a read, English in their place, and noted once.

#include "language_file.h"
#include "private_profile.h"
#include "seams.h"
#include "settings_file.h"
#include "ui_strings.h"
#include "unusable_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A FIFO that is opened for reading waits for a writer forever: the alarm
// ends the test instead of letting it hang.
struct HangGuard {
    HangGuard() { alarm(60); }
    ~HangGuard() { alarm(0); }
};

struct Damage {
    const char* name;
    platform::ProfileFileState state;
    std::function<bool(const QString& path)> make;
};

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray Binary()
{
    QByteArray bytes;
    for (int i = 0; i < 4096; ++i)
        bytes.append(static_cast<char>(0x80 + (i * 37) % 0x80));
    return bytes;
}

const std::vector<Damage>& Damages()
{
    using platform::ProfileFileState;
    static const std::vector<Damage> damages = {
        {"fifo", ProfileFileState::NotAFile,
         [](const QString& p) { return mkfifo(QFile::encodeName(p).constData(), 0600) == 0; }},
        {"link to /dev/zero", ProfileFileState::NotAFile,
         [](const QString& p) { return QFile::link(QStringLiteral("/dev/zero"), p); }},
        {"folder", ProfileFileState::NotAFile, [](const QString& p) { return QDir().mkpath(p); }},
        {"binary data", ProfileFileState::NotText, [](const QString& p) { return WriteBytes(p, Binary()); }},
        {"NUL bytes", ProfileFileState::NotText,
         [](const QString& p) { return WriteBytes(p, QByteArray(64 * 1024, '\0')); }},
        {"too large", ProfileFileState::TooLarge,
         [](const QString& p) { return WriteBytes(p, "[LANGUAGE]\nfile=german.ini\n" + QByteArray(2 << 20, ';')); }},
    };
    return damages;
}

// What a path is, to see that nothing changed it.
struct PathState {
    mode_t type = 0;
    ino_t inode = 0;
    QByteArray bytes;
    bool operator==(const PathState& other) const
    {
        return type == other.type && inode == other.inode && bytes == other.bytes;
    }
};

PathState StateOf(const QString& path)
{
    PathState state;
    struct stat st {};
    if (lstat(QFile::encodeName(path).constData(), &st) == 0) {
        state.type = st.st_mode & S_IFMT;
        state.inode = st.st_ino;
    }
    QFile file(path);
    if (S_ISREG(st.st_mode) && file.open(QIODevice::ReadOnly))
        state.bytes = file.readAll();
    return state;
}

class DamagedFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("languages")));
        platform::CurrentSeams().appDirectory = [this] { return dir_.path(); };
        i18n::ForgetReportedUnusableFiles();
    }
    void TearDown() override { i18n::ForgetReportedUnusableFiles(); }

    QString Settings() const { return dir_.filePath(QStringLiteral("setting.ini")); }
    QString English() const { return i18n::LanguageFile::PathOf(QStringLiteral("english.ini")); }

    HangGuard guard_;
    platform::ScopedSeams seams_;
    QTemporaryDir dir_;
};

TEST_F(DamagedFilesTest, ADamagedSettingsFileGivesTheDefaultsIsNotedOnceAndIsLeftAsItIs)
{
    for (const Damage& damage : Damages()) {
        SCOPED_TRACE(damage.name);
        QFile::remove(Settings());
        QDir(Settings()).removeRecursively();
        ASSERT_TRUE(damage.make(Settings()));
        const PathState before = StateOf(Settings());

        platform::ProfileFileState state{};
        QByteArray data;
        EXPECT_EQ(platform::ReadProfileFile(Settings(), &data), damage.state);
        platform::GetPrivateProfileString("LANGUAGE", "file", {}, 1000, Settings(), &state);
        EXPECT_EQ(state, damage.state);
        EXPECT_EQ(i18n::ChosenLanguageFile(), QStringLiteral("english.ini"));
        EXPECT_EQ(i18n::LanguageName(0), QStringLiteral("English"));
        EXPECT_EQ(i18n::LanguageName(5), QString::fromUtf8("日本語"));
        EXPECT_EQ(i18n::TakeUnusableFilesToReport(), QStringList{Settings()});
        i18n::ReadSetting("PATH", "name");
        EXPECT_TRUE(i18n::TakeUnusableFilesToReport().isEmpty()) << "noted once";
        EXPECT_TRUE(StateOf(Settings()) == before);

        // A file that is not read is not written either.
        i18n::WriteSetting("LANGUAGE", "file", "french.ini");
        if (damage.state == platform::ProfileFileState::NotText)
            EXPECT_TRUE(StateOf(Settings()).bytes.startsWith(before.bytes)) << "the user's bytes are kept";
        else
            EXPECT_TRUE(StateOf(Settings()) == before);
        i18n::ForgetReportedUnusableFiles();
    }
}

TEST_F(DamagedFilesTest, AnUnknownLanguageReadsAsEnglishAndIsNoted)
{
    for (const char* language : {"klingon.ini", "../../../etc/passwd", "English.ini"}) {
        ASSERT_TRUE(WriteBytes(Settings(), QByteArray("[LANGUAGE]\nfile=") + language + "\nname2=\n"));
        EXPECT_EQ(i18n::ChosenLanguageFile(), QStringLiteral("english.ini")) << language;
        EXPECT_EQ(i18n::LanguageName(1), QString::fromUtf8("Español"));
        EXPECT_EQ(i18n::TakeUnusableFilesToReport(), QStringList{Settings()});
        i18n::ForgetReportedUnusableFiles();
    }
    // A known language is no damage, and a missing file is none either.
    ASSERT_TRUE(WriteBytes(Settings(), "[LANGUAGE]\nfile=german.ini\n"));
    EXPECT_EQ(i18n::ChosenLanguageFile(), QStringLiteral("german.ini"));
    QFile::remove(Settings());
    EXPECT_EQ(i18n::ChosenLanguageFile(), QStringLiteral("english.ini"));
    EXPECT_TRUE(i18n::TakeUnusableFilesToReport().isEmpty());
}

TEST_F(DamagedFilesTest, ADamagedLanguageFileGivesTheBuiltInEnglishTexts)
{
    for (const Damage& damage : Damages()) {
        SCOPED_TRACE(damage.name);
        QFile::remove(English());
        QDir(English()).removeRecursively();
        ASSERT_TRUE(damage.make(English()));
        i18n::UiStrings strings;
        strings.SetLanguage(QStringLiteral("english.ini"));
        strings.LoadSlotsFromLanguageFile();
        EXPECT_EQ(strings.Text("JIEMIAN", "spjq"), QStringLiteral("Cut"));
        EXPECT_EQ(i18n::LanguageFile::ReadText("english.ini", "APPLICATION", "name"), QStringLiteral("Morvane"));
        EXPECT_EQ(i18n::TakeUnusableFilesToReport(), QStringList{English()});
        i18n::ForgetReportedUnusableFiles();
    }
}

TEST_F(DamagedFilesTest, AKeyMissingFromALanguageFileReadsInEnglish)
{
    ASSERT_TRUE(WriteBytes(i18n::LanguageFile::PathOf("german.ini"), "[JIEMIAN]\nspjq=Schneiden\nsphb=\n"));
    EXPECT_EQ(i18n::LanguageFile::ReadText("german.ini", "JIEMIAN", "spjq"), QStringLiteral("Schneiden"));
    EXPECT_EQ(i18n::LanguageFile::ReadText("german.ini", "JIEMIAN", "sphb"), QStringLiteral("Join"));
    EXPECT_EQ(i18n::LanguageFile::ReadText("german.ini", "NOSUCH", "key"), QString());
    EXPECT_TRUE(i18n::TakeUnusableFilesToReport().isEmpty());
}

TEST_F(DamagedFilesTest, WritingTheStoredValueAgainLeavesTheFileUntouched)
{
    ASSERT_TRUE(WriteBytes(Settings(), "[LANGUAGE]\nfile=german.ini\n[PATH]\nopen=/videos\n"));
    const PathState before = StateOf(Settings());
    i18n::WriteSetting("LANGUAGE", "file", "german.ini");
    i18n::WriteSetting("path", "OPEN", "/videos");
    EXPECT_TRUE(StateOf(Settings()) == before);
    i18n::WriteSetting("PATH", "open", "/films");
    EXPECT_EQ(i18n::ReadSetting("PATH", "open"), QStringLiteral("/films"));
}

}  // namespace
