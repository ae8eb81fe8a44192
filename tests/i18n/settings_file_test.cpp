// SPDX-License-Identifier: GPL-3.0-or-later
// setting.ini behaves like the platform's private-profile files.

#include "private_profile.h"
#include "seams.h"
#include "settings_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        platform::CurrentSeams().appDirectory = [this] { return dir_.path(); };
    }

    QString SettingsPath() const { return dir_.filePath(QStringLiteral("setting.ini")); }

    void WriteRaw(const QByteArray& text) const
    {
        QFile file(SettingsPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    QByteArray ReadRaw() const
    {
        QFile file(SettingsPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    platform::ScopedSeams seams_;
    QTemporaryDir dir_;
};

TEST_F(SettingsFileTest, MissingFileSectionOrKeyReadsAsEmpty)
{
    EXPECT_EQ(i18n::ReadSetting("LANGUAGE", "file"), QString());
    WriteRaw("[LANGUAGE]\nfile=german.ini\n");
    EXPECT_EQ(i18n::ReadSetting("PATH", "name"), QString());
    EXPECT_EQ(i18n::ReadSetting("LANGUAGE", "name4"), QString());
    EXPECT_EQ(i18n::ReadSetting("LANGUAGE", "file"), QStringLiteral("german.ini"));
}

TEST_F(SettingsFileTest, SectionsAndKeysAreFoundWhateverTheirCase)
{
    WriteRaw("[Language]\nFILE=french.ini\n");
    EXPECT_EQ(i18n::ReadSetting("LANGUAGE", "file"), QStringLiteral("french.ini"));
    EXPECT_EQ(i18n::ReadSetting("language", "File"), QStringLiteral("french.ini"));
}

TEST_F(SettingsFileTest, ALongValueComesBackAsItsFirst999Characters)
{
    const QString folder = QStringLiteral("/") + QString(1199, QLatin1Char('d'));
    i18n::WriteSetting("PATH", "name", folder);
    const QString read = i18n::ReadSetting("PATH", "name");
    EXPECT_EQ(read.size(), 999);
    EXPECT_EQ(read, folder.left(999));
}

TEST_F(SettingsFileTest, ACutNeverSplitsACharacterOutsideTheBasicPlane)
{
    // 998 letters and then a character stored as two UTF-16 units.
    const QString value = QString(998, QLatin1Char('a')) + QString::fromUtf8("\xF0\x9F\x8E\xAC") + "b";
    i18n::WriteSetting("PATH", "name", value);
    EXPECT_EQ(i18n::ReadSetting("PATH", "name"), QString(998, QLatin1Char('a')));
}

TEST_F(SettingsFileTest, AWriteCreatesTheFileWithItsSection)
{
    ASSERT_FALSE(QFile::exists(SettingsPath()));
    i18n::WriteSetting("LANGUAGE", "file", "italian.ini");
    EXPECT_TRUE(QFile::exists(SettingsPath()));
    EXPECT_EQ(i18n::ReadSetting("LANGUAGE", "file"), QStringLiteral("italian.ini"));
    EXPECT_TRUE(ReadRaw().contains("[LANGUAGE]"));
}

TEST_F(SettingsFileTest, AWriteKeepsEveryOtherEntryAndComment)
{
    WriteRaw("; shipped with the program\n"
             "[LANGUAGE]\nname1=English\nname6=日本語\nfile=english.ini\n"
             "[PATH]\nname=/home/user/videos\n");
    i18n::WriteSetting("language", "FILE", "japanese.ini");
    i18n::WriteSetting("EXTRA", "note", "new section");

    EXPECT_EQ(i18n::ReadSetting("LANGUAGE", "file"), QStringLiteral("japanese.ini"));
    EXPECT_EQ(i18n::ReadSetting("LANGUAGE", "name1"), QStringLiteral("English"));
    EXPECT_EQ(i18n::ReadSetting("LANGUAGE", "name6"), QString::fromUtf8("日本語"));
    EXPECT_EQ(i18n::ReadSetting("PATH", "name"), QStringLiteral("/home/user/videos"));
    EXPECT_EQ(i18n::ReadSetting("EXTRA", "note"), QStringLiteral("new section"));
    const QByteArray raw = ReadRaw();
    EXPECT_TRUE(raw.contains("; shipped with the program"));
    EXPECT_EQ(raw.count("file="), 1) << "the key is replaced, not repeated:\n" << raw.constData();
}

TEST_F(SettingsFileTest, AWriteChangesOnlyItsOwnLineAndKeepsEveryOtherByte)
{
    const QByteArray before = "; shipped\r\n[LANGUAGE]\r\nname1 = English\r\nfile = english.ini\r\n"
                              "a line without equals\r\nfile=second.ini\r\n\r\n[PATH]\r\nname=/old";
    WriteRaw(before);
    // The first of two equal keys counts, for reading and for writing.
    EXPECT_EQ(i18n::ReadSetting("LANGUAGE", "FILE"), QStringLiteral("english.ini"));
    i18n::WriteSetting("LANGUAGE", "file", "german.ini");
    QByteArray expected = before;
    expected.replace("file = english.ini", "file = german.ini");
    EXPECT_EQ(ReadRaw(), expected);

    // A new key goes after the section's last entry, in the file's own line breaks;
    // a new section after a last line that had no break.
    i18n::WriteSetting("LANGUAGE", "name2", "Español");
    i18n::WriteSetting("EXTRA", "note", "x");
    expected.replace("file=second.ini\r\n", "file=second.ini\r\nname2=Español\r\n");
    expected += "\r\n[EXTRA]\r\nnote=x\r\n";
    EXPECT_EQ(ReadRaw(), expected);
}

TEST_F(SettingsFileTest, AValueWithALineBreakIsNeverWrittenIntoTheFile)
{
    WriteRaw("[LANGUAGE]\nfile=english.ini\n[PATH]\nname=/videos\n");
    const QByteArray before = ReadRaw();
    for (const QString& folder : {QStringLiteral("x\n[LANGUAGE]\nfile=german.ini"), QStringLiteral("a\rb"),
                                  QStringLiteral("a") + QChar(0) + QStringLiteral("b")})
        EXPECT_FALSE(platform::WritePrivateProfileString("PATH", "name", folder, SettingsPath()));
    EXPECT_FALSE(platform::WritePrivateProfileString("PATH", "na\nme", "x", SettingsPath()));
    EXPECT_EQ(ReadRaw(), before);
    EXPECT_EQ(i18n::ReadSetting("LANGUAGE", "file"), QStringLiteral("english.ini"));
}

TEST_F(SettingsFileTest, ANulByteInTheFileDoesNotLoseTheRestAtTheNextWrite)
{
    static const char raw[] = "[PATH]\nname=/a\0b\n[LANGUAGE]\nfile=english.ini\nname6=x\n";
    const QByteArray before(raw, sizeof(raw) - 1);
    WriteRaw(before);
    EXPECT_EQ(i18n::ReadSetting("PATH", "name"), QStringLiteral("/a"));
    i18n::WriteSetting("LANGUAGE", "file", "french.ini");
    QByteArray expected = before;
    expected.replace("english.ini", "french.ini");
    EXPECT_EQ(ReadRaw(), expected);
    EXPECT_EQ(i18n::ReadSetting("LANGUAGE", "name6"), QStringLiteral("x"));
}

TEST_F(SettingsFileTest, OuterSpacesAndQuotesOfAValueSurviveAWriteAndARead)
{
    for (const QString& folder : {QStringLiteral(" /spaced folder "), QStringLiteral("\"/quoted\""),
                                  QStringLiteral("/plain; with = signs")}) {
        i18n::WriteSetting("PATH", "name", folder);
        EXPECT_EQ(i18n::ReadSetting("PATH", "name"), folder);
    }
}

TEST_F(SettingsFileTest, AnUnreadableFileIsNotOverwritten)
{
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("setting.ini")));
    i18n::WriteSetting("LANGUAGE", "file", "english.ini");
    EXPECT_TRUE(QFileInfo(SettingsPath()).isDir());
    EXPECT_EQ(i18n::ReadSetting("LANGUAGE", "file"), QString());
}

TEST(PrivateProfile, QuotedValuesKeepTheirOuterSpaces)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("texts.ini"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[TISHI]\nwj=\"The file \"\nwx=  trimmed  \nmid=say \"hi\" now\n");
    file.close();

    EXPECT_EQ(platform::GetPrivateProfileString("TISHI", "wj", {}, 1000, path), QStringLiteral("The file "));
    EXPECT_EQ(platform::GetPrivateProfileString("TISHI", "wx", {}, 1000, path), QStringLiteral("trimmed"));
    EXPECT_EQ(platform::GetPrivateProfileString("TISHI", "mid", {}, 1000, path),
              QStringLiteral("say \"hi\" now"));
    EXPECT_EQ(platform::GetPrivateProfileString("TISHI", "none", "fallback", 1000, path),
              QStringLiteral("fallback"));
}

}  // namespace
