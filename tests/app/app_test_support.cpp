// SPDX-License-Identifier: GPL-3.0-or-later
#include "app_test_support.h"

#include "bitmap_slider.h"
#include "conversion_job.h"
#include "language_file.h"
#include "ui_strings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <cmath>

void AppTest::SetUp()
{
    ASSERT_TRUE(m_folder.isValid());
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("MORVANE_FIXTURES")) << "run through ctest";
    const QDir shipped(QStringLiteral(MORVANE_LANGUAGES_DIR));
    QDir(m_folder.path()).mkpath(QStringLiteral("languages"));
    for (const QString& name : shipped.entryList({QStringLiteral("*.ini")}, QDir::Files))
        ASSERT_TRUE(QFile::copy(shipped.filePath(name), m_folder.path() + QStringLiteral("/languages/") + name));
    WriteSettings(QStringLiteral("english.ini"));

    platform::Seams& seams = platform::CurrentSeams();
    seams.appDirectory = [this] { return m_folder.path(); };
    seams.getOpenFileNames = [this](QWidget*, const QString& filter) {
        m_filters << filter;
        return m_answer;
    };
    seams.messageBox = [this](const platform::MessageBoxRequest& request) {
        m_messages << request.text;
        if (m_onMessage)
            m_onMessage();
    };
    // Another file may take the spans marked: the tests that want a No say so.
    seams.askYesNo = [](const platform::MessageBoxRequest&) { return true; };
    seams.shellOpen = [this](const QString& target) {
        m_opened << target;
        return platform::kShellSuccess;
    };
    OpenWindow();
}

void AppTest::TearDown()
{
    m_dlg.reset();
    EXPECT_EQ(g_pJob, nullptr);
}

void AppTest::WriteSettings(const QString& languageFile)
{
    QFile file(m_folder.path() + QStringLiteral("/setting.ini"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QTextStream out(&file);
    out << "[LANGUAGE]\nname1=English\nname2=Espanol\nname3=Deutsch\nname4=Francais\nname5=Italiano\n"
           "name6=Japanese\nfile="
        << languageFile << "\n\n[PATH]\nname=\n";
}

void AppTest::OpenWindow()
{
    m_dlg.reset();
    m_dlg = std::make_unique<CMorvaneDlg>();
}

void AppTest::Add(const QStringList& paths)
{
    m_answer = paths;
    m_dlg->OnAddFiles();
}

QString AppTest::LanguageText(const char* section, const char* key) const
{
    return i18n::LanguageFile::ReadText(i18n::g_uiStrings.Language(), QString::fromLatin1(section),
                                        QString::fromLatin1(key));
}

QString AppTest::Media(const char* name)
{
    return qEnvironmentVariable("MORVANE_FIXTURES") + QLatin1Char('/') + QString::fromLatin1(name);
}

QWidget* AppTest::Control(int id) const
{
    return m_dlg->findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

QString AppTest::Text(int id) const
{
    QWidget* control = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        return edit->text();
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    ADD_FAILURE() << "control " << id << " has no text";
    return QString();
}

QImage AppTest::ShownSnapshot() const
{
    QElapsedTimer waited;
    waited.start();
    while (m_dlg->PreviewPending() && waited.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(m_dlg->PreviewPending());
    return QImage(m_dlg->SnapshotPath());
}

void AppTest::DragTo(int thousandths)
{
    CBitmapSlider* slider = m_dlg->Slider();
    slider->SetPos(static_cast<int>(std::llround(thousandths / 1000.0 * slider->RangeMax())));
    m_dlg->OnSliderMoving();
    m_dlg->OnSliderMoved();  // the thumb rests
}
