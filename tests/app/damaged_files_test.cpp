// SPDX-License-Identifier: GPL-3.0-or-later
// A damaged setting.ini or language file: the window still opens with every
// text in English, says once which file it could not use, and leaves it be.

#include "app_test_support.h"

#include "check_list_ctrl.h"
#include "unusable_files.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTabBar>
#include <QTreeWidget>

#include <functional>
#include <map>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Texts = std::map<QString, QString>;

// Every text the window shows: title, tabs, list headers, labels, buttons
// and the language list.
Texts VisibleTexts(CMorvaneDlg& dlg)
{
    Texts texts{{QStringLiteral("title"), dlg.windowTitle()}};
    for (int i = 0; i < dlg.Tabs()->count(); ++i)
        texts[QStringLiteral("tab %1").arg(i)] = dlg.Tabs()->tabText(i);
    for (int i = 0; i < dlg.FileList()->headerItem()->columnCount(); ++i)
        texts[QStringLiteral("column %1").arg(i)] = dlg.FileList()->headerItem()->text(i);
    for (QLabel* label : dlg.findChildren<QLabel*>())
        texts[QStringLiteral("label ") + label->objectName()] = label->text();
    for (QAbstractButton* button : dlg.findChildren<QAbstractButton*>())
        texts[QStringLiteral("button ") + button->objectName()] = button->text();
    auto* languages = dlg.findChild<QComboBox*>(QStringLiteral("1105"));
    for (int i = 0; i < languages->count(); ++i)
        texts[QStringLiteral("language %1").arg(i)] = languages->itemText(i);
    return texts;
}

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct Damage {
    const char* name;
    std::function<bool(const QString& path)> make;
};

const Damage kDamages[] = {
    {"fifo", [](const QString& p) { return mkfifo(QFile::encodeName(p).constData(), 0600) == 0; }},
    {"link to /dev/zero", [](const QString& p) { return QFile::link(QStringLiteral("/dev/zero"), p); }},
    {"folder", [](const QString& p) { return QDir().mkpath(p); }},
    {"binary data", [](const QString& p) { return WriteBytes(p, QByteArray(3000, '\xC3')); }},
    {"NUL bytes", [](const QString& p) { return WriteBytes(p, QByteArray(3000, '\0')); }},
};

class DamagedFilesTest : public AppTest {
protected:
    void SetUp() override
    {
        // A FIFO opened for reading would wait for ever: end the test instead.
        alarm(120);
        AppTest::SetUp();
        QCoreApplication::processEvents();
        m_english = VisibleTexts(*m_dlg);
        m_messages.clear();
    }
    void TearDown() override
    {
        AppTest::TearDown();
        i18n::ForgetReportedUnusableFiles();
        alarm(0);
    }

    void Replace(const QString& path, const Damage& damage)
    {
        QFile::remove(path);
        QDir(path).removeRecursively();
        ASSERT_TRUE(damage.make(path));
    }

    // The window opened now shows the English texts, and names `path` once.
    void ExpectEnglishWindowNaming(const QString& path)
    {
        i18n::ForgetReportedUnusableFiles();
        m_messages.clear();
        OpenWindow();
        QCoreApplication::processEvents();
        const Texts shown = VisibleTexts(*m_dlg);
        for (const auto& [what, text] : m_english) {
            if (text.isEmpty())
                continue;
            EXPECT_FALSE(shown.at(what).isEmpty()) << what.toStdString();
            if (!what.startsWith(QLatin1String("language"))) {
                EXPECT_EQ(shown.at(what), text) << what.toStdString();
            }
        }
        EXPECT_EQ(static_cast<QComboBox*>(Control(1105))->currentIndex(), 0);
        ASSERT_EQ(m_messages.size(), 1);
        EXPECT_TRUE(m_messages[0].contains(path)) << m_messages[0].toStdString();
        EXPECT_TRUE(m_messages[0].startsWith(LanguageText("TISHI", "wjsh")));
        // Once: the next window of the same run says nothing more.
        OpenWindow();
        QCoreApplication::processEvents();
        EXPECT_EQ(m_messages.size(), 1);
    }

    Texts m_english;
};

TEST_F(DamagedFilesTest, EveryTextIsShownInEnglishWithADamagedSettingsFileThatIsLeftAsItIs)
{
    ASSERT_GT(m_english.size(), 20u);
    const QString settings = m_folder.path() + QStringLiteral("/setting.ini");
    for (const Damage& damage : kDamages) {
        SCOPED_TRACE(damage.name);
        Replace(settings, damage);
        struct stat before {};
        ASSERT_EQ(lstat(QFile::encodeName(settings).constData(), &before), 0);
        ExpectEnglishWindowNaming(settings);
        struct stat after {};
        ASSERT_EQ(lstat(QFile::encodeName(settings).constData(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << "not replaced";
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_size, before.st_size);
    }
}

TEST_F(DamagedFilesTest, EveryTextIsShownInEnglishWithADamagedLanguageFile)
{
    for (const char* language : {"english.ini", "german.ini"}) {
        WriteSettings(QString::fromLatin1(language));
        const QString path = m_folder.path() + QStringLiteral("/languages/") + QString::fromLatin1(language);
        for (const Damage& damage : kDamages) {
            SCOPED_TRACE(std::string(language) + ": " + damage.name);
            Replace(path, damage);
            i18n::ForgetReportedUnusableFiles();
            m_messages.clear();
            OpenWindow();
            QCoreApplication::processEvents();
            const Texts shown = VisibleTexts(*m_dlg);
            for (const auto& [what, text] : m_english) {
                if (!text.isEmpty()) {
                    EXPECT_EQ(shown.at(what), text) << what.toStdString();
                }
            }
            ASSERT_EQ(m_messages.size(), 1);
            EXPECT_TRUE(m_messages[0].contains(path));
        }
    }
}

TEST_F(DamagedFilesTest, AnUnknownLanguageIsShownAsEnglish)
{
    WriteSettings(QStringLiteral("klingon.ini"));
    ExpectEnglishWindowNaming(m_folder.path() + QStringLiteral("/setting.ini"));
}

}  // namespace
