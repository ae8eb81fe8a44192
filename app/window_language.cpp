// SPDX-License-Identifier: GPL-3.0-or-later
// The window in the chosen language: its texts, the platform's own texts,
// and the help page the language file names.
#include "morvane_dlg.h"

#include "check_list_ctrl.h"
#include "dialog_template.h"
#include "hyperlink.h"
#include "language_file.h"
#include "queue_panel.h"
#include "settings_file.h"
#include "ui_strings.h"
#include "unusable_files.h"
#include "window_parts.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTabBar>
#include <QTranslator>
#include <QTreeWidgetItem>

#include <iterator>

using i18n::g_uiStrings;
using window_parts::kColumns;
using window_parts::LanguageText;
using window_parts::Ui;

namespace {

// The platform's own texts (file dialogs, standard buttons) in the chosen
// language, from the translations the system ships with Qt.
void UseQtTranslation(const QString& languageFile)
{
    static QTranslator* installed = nullptr;
    static const std::pair<const char*, const char*> kLocales[] = {
        {"spanish.ini", "es"}, {"german.ini", "de"}, {"french.ini", "fr"},
        {"italian.ini", "it"}, {"japanese.ini", "ja"}};
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    for (const auto& [file, locale] : kLocales) {
        if (languageFile.compare(QLatin1String(file), Qt::CaseInsensitive) != 0)
            continue;
        auto* translator = new QTranslator();
        if (translator->load(QStringLiteral("qtbase_") + QLatin1String(locale),
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
            QCoreApplication::installTranslator(translator))
            installed = translator;
        else
            delete translator;
    }
}

}  // namespace

QString HelpAddress()
{
    const QString url = Ui("APPLICATION", "url");
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    if (url.isEmpty() || QDir::isAbsolutePath(url) || scheme.match(url).hasMatch())
        return url;
    return GetAppFolderWithSlash(platform::AppFiles::Shipped) + url;
}

void CMorvaneDlg::ApplyLanguage()
{
    const QString language = g_uiStrings.Language();
    const auto read = [&](const char* section, const char* key) {
        return i18n::LanguageFile::ReadText(language, QString::fromLatin1(section), QString::fromLatin1(key));
    };
    const QString name = read("APPLICATION", "name");
    const QString version = read("APPLICATION", "version");
    g_uiStrings.LoadSlotsFromLanguageFile();
    UseQtTranslation(language);

    m_linkHelp->setText(read("JIEMIAN", "zysybrj"));
    m_linkHelp->setFont(dialogs::DialogFont(10));
    m_linkHelp->SetURL(HelpAddress());
    m_linkHelp->SetUnderline(CHyperLink::UnderlineAlways);

    Static(1018)->setText(Ui("JIEMIAN", "ksjq"));
    Static(1019)->setText(read("JIEMIAN", "jsjq"));
    Static(1157)->setText(read("JIEMIAN", "jqsj"));
    Static(1278)->setText(Ui("JIEMIAN", "yy"));
    FitLanguageLabel();
    RefreshSpans(SelectedSpan());

    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i)
        m_listFiles->headerItem()->setText(i, Ui("JIEMIAN", kColumns[i].key));

    ApplyPlayText();
    m_tab->setTabText(0, Ui("JIEMIAN", "spjq"));
    m_tab->setTabText(1, Ui("JIEMIAN", "sphb"));
    if (m_queuePanel)
        m_queuePanel->ApplyLanguage();

    setWindowTitle(name + QLatin1Char(' ') + version);
    // After the window is up, so the message has a window to stand on.
    QMetaObject::invokeMethod(this, &CMorvaneDlg::ReportUnusableFiles, Qt::QueuedConnection);
}

void CMorvaneDlg::ReportUnusableFiles()
{
    const QStringList files = i18n::TakeUnusableFilesToReport();
    if (!files.isEmpty())
        ShowMessage(LanguageText("TISHI", "wjsh") + QLatin1Char('\n') + files.join(QLatin1Char('\n')));
}

void CMorvaneDlg::ApplyLanguageChoice()
{
    const int entry = m_comboLanguage->currentIndex();
    if (entry >= 0 && entry < i18n::kLanguageCount)
        g_uiStrings.SetLanguage(i18n::LanguageFileNames()[entry]);
    i18n::WriteSetting(QStringLiteral("LANGUAGE"), QStringLiteral("file"), g_uiStrings.Language());
    ApplyLanguage();
    ApplyBreakTexts();
}
