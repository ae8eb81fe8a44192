// SPDX-License-Identifier: GPL-3.0-or-later
// The six shipped language files, setting.ini, and the UI string table.

#include "app_directory.h"
#include "language_file.h"
#include "language_keys.h"
#include "private_profile.h"
#include "seams.h"
#include "settings_file.h"
#include "ui_strings.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The build copies setting.ini and languages/ beside the executables; the
// tests read those copies, which also checks that the copy happened.
TEST(ShippedLanguageFiles, EveryFileHoldsEveryKeyWithAText)
{
    for (const QString& file : i18n::LanguageFileNames()) {
        ASSERT_TRUE(QFile::exists(i18n::LanguageFile::PathOf(file))) << file.toStdString();
        for (const i18n::LanguageKey& entry : i18n::AllLanguageKeys())
            EXPECT_FALSE(i18n::LanguageFile::ReadText(file, entry.section, entry.key).trimmed().isEmpty())
                << file.toStdString() << " [" << entry.section.toStdString() << "] "
                << entry.key.toStdString();
    }
}

// The help page of each language ships beside the executable and explains
// the words the window shows in that language.
TEST(ShippedLanguageFiles, EveryFileNamesTheProgramAndItsOwnHelpPage)
{
    for (const QString& file : i18n::LanguageFileNames()) {
        EXPECT_EQ(i18n::LanguageFile::ReadText(file, "APPLICATION", "name"), QStringLiteral("Morvane"));
        const QString url = i18n::LanguageFile::ReadText(file, "APPLICATION", "url");
        EXPECT_EQ(url, QStringLiteral("help/") + QString(file).replace(QStringLiteral(".ini"), QStringLiteral(".html")));
        QFile page(platform::GetAppDirectory(platform::AppFiles::Shipped) + QLatin1Char('/') + url);
        ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << page.fileName().toStdString();
        const QString html = QString::fromUtf8(page.readAll());
        QStringList expected = {i18n::LanguageFile::ReadText(file, "JIEMIAN", "zb"),
                                i18n::LanguageFile::ReadText(file, "TISHI", "wc"),
                                i18n::LanguageFile::ReadText(file, "TISHI", "sb"),
                                i18n::LanguageFile::ReadText(file, "JIEMIAN", "tz")};
        for (const char* extension : {".mp4", ".avi", ".flv", ".wmv", ".mov", ".mkv"})
            expected << QString::fromLatin1(extension);
        // The exact-cut option by its name in the settings window (before its
        // explanation in brackets), the timeline's keys, and opening from a terminal.
        const QString exact = i18n::LanguageFile::ReadText(file, "JIEMIAN", "jqjq");
        expected << "<b>" + exact.left(exact.indexOf(QRegularExpression(QStringLiteral("\\s*[(（]")))) + "</b>";
        for (const char* key : {"←", "→", "I", "O", "[", "]"})
            expected << QStringLiteral("<kbd>%1</kbd>").arg(QString::fromUtf8(key));
        expected << QStringLiteral("<code>morvane ");
        for (const QString& word : expected)
            EXPECT_TRUE(html.contains(word)) << url.toStdString() << " lacks " << word.toStdString();
    }
}

TEST(ShippedLanguageFiles, TheAddFailureMessageReadsAsOneSentence)
{
    // wj + name + " " + wx: wj must keep its trailing space.
    for (const QString& file : i18n::LanguageFileNames())
        EXPECT_TRUE(i18n::LanguageFile::ReadText(file, "TISHI", "wj").endsWith(QLatin1Char(' ')))
            << file.toStdString();
}

// The shipped file itself: the copy beside the executable keeps the user's choices.
TEST(ShippedSettings, ListSixLanguageNamesAndStartInEnglish)
{
    const QString shipped = QStringLiteral(MORVANE_SOURCE_DIR "/setting.ini");
    auto read = [&](const char* section, const QString& key) {
        return platform::GetPrivateProfileString(section, key, {}, 1000, shipped);
    };
    for (int entry = 1; entry <= i18n::kLanguageCount; ++entry)
        EXPECT_FALSE(read("LANGUAGE", QStringLiteral("name%1").arg(entry)).isEmpty());
    EXPECT_EQ(read("LANGUAGE", "name6"), QString::fromUtf8("日本語"));
    EXPECT_EQ(read("LANGUAGE", "file"), QStringLiteral("english.ini"));
    EXPECT_TRUE(read("PATH", "name").isEmpty());
    EXPECT_TRUE(QFile::exists(i18n::SettingsFilePath())) << "a copy sits beside the executable";
}

TEST(UiStringsTable, Has37TextSlotsThatStartEmpty)
{
    i18n::UiStrings strings;
    EXPECT_EQ(strings.SlotCount(), 37);
    EXPECT_TRUE(strings.Language().isEmpty());
    EXPECT_TRUE(strings.Text("TISHI", "wj").isEmpty());
}

TEST(UiStringsTable, LoadsTheLanguageNamedByItsLanguageSlot)
{
    i18n::UiStrings strings;
    strings.SetLanguage(QStringLiteral("german.ini"));
    strings.LoadSlotsFromLanguageFile();
    EXPECT_EQ(strings.Text("JIEMIAN", "sphb"), QString::fromUtf8("Zusammenfügen"));
    EXPECT_EQ(strings.Text("jiemian", "SPHB"), QString::fromUtf8("Zusammenfügen"));
    // Same key in two sections: two different slots.
    EXPECT_NE(strings.Text("JIEMIAN", "ksjq"), strings.Text("HINT", "ksjq"));
    // Dialog captions are read by the dialogs themselves, not kept here.
    EXPECT_TRUE(strings.Text("JIEMIAN", "tz").isEmpty());

    strings.SetLanguage(QStringLiteral("japanese.ini"));
    strings.LoadSlotsFromLanguageFile();
    EXPECT_EQ(strings.Text("TISHI", "wc"), QString::fromUtf8("完了"));
}

TEST(UiStringsTable, AnUnknownOrEmptyLanguageGivesTheEnglishTexts)
{
    i18n::UiStrings english;
    english.SetLanguage(QStringLiteral("english.ini"));
    english.LoadSlotsFromLanguageFile();
    ASSERT_FALSE(english.Text("HINT", "bf").isEmpty());

    for (const QString& language : {QStringLiteral("klingon.ini"), QString()}) {
        i18n::UiStrings strings;
        strings.SetLanguage(language);
        strings.LoadSlotsFromLanguageFile();
        for (const i18n::LanguageKey& entry : i18n::AllLanguageKeys())
            EXPECT_EQ(strings.Text(entry.section, entry.key), english.Text(entry.section, entry.key))
                << entry.key.toStdString();
    }
}

// The English texts are built into the program, word for word as shipped.
TEST(UiStringsTable, TheBuiltInEnglishIsTheShippedFile)
{
    for (const i18n::LanguageKey& entry : i18n::AllLanguageKeys())
        EXPECT_EQ(i18n::LanguageFile::BuiltInText(entry.section, entry.key),
                  i18n::LanguageFile::ReadText("english.ini", entry.section, entry.key))
            << entry.key.toStdString();
}

TEST(LanguageFileLookup, FollowsTheApplicationFolder)
{
    platform::ScopedSeams seams;
    QTemporaryDir dir;
    platform::CurrentSeams().appDirectory = [&dir] { return dir.path(); };
    EXPECT_EQ(i18n::LanguageFile::PathOf("english.ini"), dir.path() + "/languages/english.ini");
    // No file there: the built-in English.
    EXPECT_EQ(i18n::LanguageFile::ReadText("german.ini", "APPLICATION", "name"), QStringLiteral("Morvane"));
    QDir(dir.path()).mkpath(QStringLiteral("languages"));
    QFile german(dir.path() + "/languages/german.ini");
    ASSERT_TRUE(german.open(QIODevice::WriteOnly));
    german.write("[APPLICATION]\nname=Eigen\n");
    german.close();
    EXPECT_EQ(i18n::LanguageFile::ReadText("german.ini", "APPLICATION", "name"), QStringLiteral("Eigen"));
}

}  // namespace
