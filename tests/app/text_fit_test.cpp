// SPDX-License-Identifier: GPL-3.0-or-later
// What a user reads: every text of every language fits the control that
// shows it, list rows show whole letters, the progress line keeps its
// percentage, and windows carry their own titles.
#include "app_test_support.h"

#include "av_convert_dlg.h"
#include "check_list_ctrl.h"
#include "file_infomation_dlg.h"
#include "hyperlink.h"
#include "queue_panel.h"
#include "settings_dlg.h"
#include "settings_file.h"
#include "ui_strings.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QStyleOptionComboBox>
#include <QStyleOptionHeader>
#include <QTabBar>
#include <QTreeWidgetItem>

namespace {

// "" when `need` fits into `room`, else what did not fit.
QString Misfit(const QString& text, QSize need, QSize room)
{
    if (need.width() <= room.width() && need.height() <= room.height())
        return QString();
    return QStringLiteral("\"%1\" needs %2x%3, has %4x%5")
        .arg(text)
        .arg(need.width())
        .arg(need.height())
        .arg(room.width())
        .arg(room.height());
}

// The text's own width and height (fallback faces included) against the
// room the label leaves for it.
QString LabelMisfit(const QLabel* label)
{
    const QRect room = label->contentsRect();
    const int flags = Qt::AlignLeft | Qt::AlignTop | (label->wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine);
    const QRect need = QFontMetrics(label->font()).boundingRect(QRect(0, 0, room.width(), 10000), flags, label->text());
    return Misfit(label->text(), need.size(), room.size());
}

// Every entry of a drop list against the field that shows the chosen one.
QString ListMisfit(QComboBox* list)
{
    QStyleOptionComboBox option;
    option.initFrom(list);
    option.editable = list->isEditable();
    option.frame = list->hasFrame();
    const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list);
    for (int i = 0; i < list->count(); ++i) {
        const QSize need(list->fontMetrics().horizontalAdvance(list->itemText(i)), 0);
        if (need.width() > field.width())
            return Misfit(list->itemText(i), need, field.size());
    }
    return QString();
}

// The room the header leaves for a column's text (the box's picture taken
// off the first), as the header measures it when it elides.
QString HeaderMisfit(QHeaderView* header, const QTreeWidgetItem* titles, int column)
{
    QStyleOptionHeader option;
    option.initFrom(header);
    option.rect = QRect(0, 0, header->sectionSize(column), header->height());
    option.section = column;
    option.text = titles->text(column);
    const QRect label = header->style()->subElementRect(QStyle::SE_HeaderLabel, &option, header);
    const int picture = titles->data(column, Qt::DecorationRole).isNull()
        ? 0 : header->style()->pixelMetric(QStyle::PM_SmallIconSize, &option, header) + 2;
    return Misfit(option.text, QSize(header->fontMetrics().horizontalAdvance(option.text), 0),
                  QSize(label.width() - picture, 0));
}

// Labels, radios, buttons and drop lists of a dialog, each by its own measure.
void CheckDialog(QWidget* dialog, const QString& where, QStringList* misfits)
{
    for (QWidget* control : dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!control->isVisibleTo(dialog) || control->objectName().isEmpty())
            continue;
        QString misfit;
        if (auto* label = qobject_cast<QLabel*>(control))
            misfit = LabelMisfit(label);
        else if (auto* button = qobject_cast<QAbstractButton*>(control); button && !button->text().isEmpty())
            misfit = Misfit(button->text(), button->sizeHint(), button->size());
        else if (auto* list = qobject_cast<QComboBox*>(control))
            misfit = ListMisfit(list);
        if (!misfit.isEmpty())
            *misfits << where + QLatin1Char(' ') + control->objectName() + QStringLiteral(": ") + misfit;
    }
}

}  // namespace

class TextFitTest : public AppTest {
protected:
    // The shipped setting.ini, with its language names, set to `language`.
    void OpenIn(const QString& language)
    {
        const QString settings = m_folder.path() + QStringLiteral("/setting.ini");
        QFile::remove(settings);
        ASSERT_TRUE(QFile::copy(QStringLiteral(MORVANE_LANGUAGES_DIR "/../setting.ini"), settings));
        ASSERT_TRUE(QFile::setPermissions(settings, QFile::ReadOwner | QFile::WriteOwner));
        i18n::WriteSetting(QStringLiteral("LANGUAGE"), QStringLiteral("file"), language);
        OpenWindow();
    }
    QString Ui(const char* section, const char* key) const
    {
        return i18n::g_uiStrings.Text(QString::fromLatin1(section), QString::fromLatin1(key));
    }
};

TEST_F(TextFitTest, EveryTextOfEveryLanguageFitsItsControl)
{
    QStringList misfits;
    for (const QString& language : i18n::LanguageFileNames()) {
        OpenIn(language);
        ASSERT_EQ(i18n::g_uiStrings.Language(), language);
        m_dlg->show();
        const QString where = language + QStringLiteral(" main");
        CheckDialog(m_dlg.get(), where, &misfits);

        QTabBar* tabs = m_dlg->Tabs();
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->tabRect(i).right() >= tabs->width() ||
                tabs->tabRect(i).width() < QFontMetrics(tabs->font()).horizontalAdvance(tabs->tabText(i)))
                misfits << where + QStringLiteral(" tab: ") + tabs->tabText(i);

        // The join tab's batch button, and the queue tab's buttons.
        m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
        CheckDialog(m_dlg.get(), language + QStringLiteral(" join tab"), &misfits);
        m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kQueueTab);
        for (auto* button : m_dlg->QueueView()->findChildren<QAbstractButton*>())
            if (button->sizeHint().width() > button->width())
                misfits << where + QStringLiteral(" queue: ") + button->text();
        m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kCutTab);

        // Headers with their box, and every status word in its column.
        CCheckListCtrl* list = m_dlg->FileList();
        for (int column = 0; column < list->columnCount(); ++column) {
            const QString misfit = HeaderMisfit(list->header(), list->headerItem(), column);
            if (!misfit.isEmpty())
                misfits << where + QStringLiteral(" header ") + misfit;
        }
        QTreeWidgetItem* row = list->AddRow({QStringLiteral("a.mp4")}, true);
        for (const QString& word : {Ui("JIEMIAN", "zb"), Ui("TISHI", "wc"), Ui("TISHI", "sb"),
                                    QStringLiteral("100%")}) {
            row->setText(5, word);
            QStyleOptionViewItem option;
            option.initFrom(list);
            option.font = list->font();
            option.fontMetrics = list->fontMetrics();
            const int need = list->itemDelegate()->sizeHint(option, list->model()->index(0, 5)).width();
            if (need > list->columnWidth(5))
                misfits << where + QStringLiteral(" status: %1 needs %2").arg(word).arg(need);
        }

        // The progress dialog with its widest totals line.
        CAVConvertDlg* progress = m_dlg->ProgressDialog();
        progress->OnInitDialog();
        progress->SetTotalText(QStringLiteral("999 ") + Ui("TISHI", "wjwczg") + QStringLiteral(" 999 ") +
                               Ui("TISHI", "wj1"));
        CheckDialog(progress, language + QStringLiteral(" progress"), &misfits);
        progress->CountSpans(true);  // its captions for spans
        progress->OnInitDialog();
        progress->SetTotalText(QStringLiteral("999 ") + Ui("TISHI", "wjwczg") + QStringLiteral(" 999 ") +
                               LanguageText("TISHI", "pd1"));
        CheckDialog(progress, language + QStringLiteral(" progress of spans"), &misfits);
        progress->CountSpans(false);

        CFileInfomation cut;
        cut.SetDirectCutStart(QStringLiteral("00:00:00.000"));  // the widest time
        cut.OnInitDialog();
        CheckDialog(&cut, language + QStringLiteral(" cut"), &misfits);
        CSettings join;
        join.OnInitDialog();
        CheckDialog(&join, language + QStringLiteral(" join"), &misfits);
    }
    EXPECT_TRUE(misfits.isEmpty()) << misfits.join(QLatin1Char('\n')).toStdString();
}

TEST_F(TextFitTest, ListRowsShowUnderscoresAndDescendersAboveTheirGridLine)
{
    m_dlg->show();
    CCheckListCtrl* list = m_dlg->FileList();
    QTreeWidgetItem* row = list->AddRow({QStringLiteral("gone_a.mp4"), QStringLiteral("____")}, true);
    list->resize(list->size());
    const QRect cell = list->visualItemRect(row).intersected(
        QRect(list->columnViewportPosition(1), 0, list->columnWidth(1), list->viewport()->height()));
    EXPECT_GE(cell.height(), QFontMetrics(list->font()).height() + 1);

    // The underscores are the only ink of column 1: they show above the grid line.
    const QImage shot = list->viewport()->grab().toImage();
    int ink = 0;
    for (int y = cell.top(); y < cell.bottom(); ++y)
        for (int x = cell.left(); x < cell.right(); ++x)
            ink += qGray(shot.pixel(x, y)) < 128 ? 1 : 0;
    EXPECT_GT(ink, 0) << "the underscores of a " << cell.height() << " px row are hidden";
}

TEST_F(TextFitTest, ALongPathInTheProgressLineLosesItsMiddleNotItsNameOrPercentage)
{
    CAVConvertDlg* progress = m_dlg->ProgressDialog();
    progress->OnInitDialog();
    auto* line = progress->findChild<QLabel*>(QStringLiteral("1018"));
    const QString tail = QStringLiteral("   42% ") + Ui("TISHI", "wjwc");
    const QString path = QStringLiteral("/home/user/") + QString(40, QLatin1Char('d')) + QStringLiteral("/") +
                         QString(40, QLatin1Char('e')) + QStringLiteral("/holiday_clip.mp4");

    progress->SetCurrentLine(QStringLiteral("/v/a.mp4"), tail);
    EXPECT_EQ(line->text(), QStringLiteral("/v/a.mp4") + tail);
    progress->SetCurrentLine(path, tail);
    EXPECT_TRUE(line->text().startsWith(QStringLiteral("/home/")));
    EXPECT_TRUE(line->text().endsWith(QStringLiteral("/holiday_clip.mp4   42% done"))) << line->text().toStdString();
    EXPECT_FALSE(line->wordWrap());
    EXPECT_LE(QFontMetrics(line->font()).horizontalAdvance(line->text()), line->contentsRect().width());
    // A name too long even alone keeps its end, the tail whole.
    progress->SetCurrentLine(QStringLiteral("/v/") + QString(300, QLatin1Char('n')) + QStringLiteral(".mp4"), tail);
    EXPECT_TRUE(line->text().endsWith(QStringLiteral("n.mp4   42% done")));
}

TEST_F(TextFitTest, EveryWindowCarriesExactlyTheTitleItsLanguageGives)
{
    OpenIn(QStringLiteral("japanese.ini"));
    const QString name = LanguageText("APPLICATION", "name");
    EXPECT_EQ(m_dlg->windowTitle(), name + QLatin1Char(' ') + LanguageText("APPLICATION", "version"));
    m_dlg->ProgressDialog()->OnInitDialog();
    EXPECT_EQ(m_dlg->ProgressDialog()->windowTitle(), name);
    CFileInfomation cut;
    cut.OnInitDialog();
    EXPECT_EQ(cut.windowTitle(), name);
    CSettings join;
    join.OnInitDialog();
    EXPECT_EQ(join.windowTitle(), name);
    // A message without a caption of its own is named after its owner's window.
    EXPECT_EQ(platform::MessageCaption({&join, QStringLiteral("?"), QString()}), name);

    // Messages of the main window carry the program's name as well.
    QStringList captions;
    platform::CurrentSeams().messageBox = [&](const platform::MessageBoxRequest& r) { captions << r.caption; };
    m_dlg->OnLaunchCut();
    EXPECT_EQ(captions, QStringList({name}));
}

TEST_F(TextFitTest, TheHelpLinkNamesThePageOfTheLanguageBesideTheProgram)
{
    for (const char* language : {"english.ini", "japanese.ini"}) {
        OpenIn(QString::fromLatin1(language));
        auto* link = m_dlg->findChild<CHyperLink*>(QStringLiteral("1180"));
        ASSERT_NE(link, nullptr);
        EXPECT_EQ(link->GetURL(), m_folder.path() + QLatin1Char('/') + LanguageText("APPLICATION", "url"));
        EXPECT_TRUE(link->GetURL().endsWith(QStringLiteral(".html")));
    }
}

TEST_F(TextFitTest, TheSpanTextsOfEveryLanguageFitTheirControls)
{
    QStringList misfits;
    for (const QString& language : i18n::LanguageFileNames()) {
        OpenIn(language);
        Add({Media("h264_aac.mp4")});
        for (int from : {1000, 4000, 7000}) {
            m_dlg->MoveToMs(from);
            m_dlg->OnStartPoint();
            m_dlg->MoveToMs(from + 2000);
            m_dlg->OnEndPoint();
            ASSERT_TRUE(m_dlg->OnAddSpan());
        }
        m_dlg->show();
        const QString where = language + QStringLiteral(" main");
        QComboBox* spans = m_dlg->SpanList();
        ASSERT_TRUE(spans->isVisible());
        // The closed field names a span; the open list shows each whole.
        QStyleOptionComboBox option;
        option.initFrom(spans);
        option.frame = spans->hasFrame();
        const QRect field = spans->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, spans);
        for (int entry = 0; entry <= 3; ++entry) {
            const QString text = CMorvaneDlg::SpanClosedText(entry);
            const QString misfit = Misfit(text, QSize(spans->fontMetrics().horizontalAdvance(text), 0), field.size());
            if (!misfit.isEmpty())
                misfits << where + QStringLiteral(" span list: ") + misfit;
        }
        for (int i = 0; i < spans->count(); ++i)
            if (spans->fontMetrics().horizontalAdvance(spans->itemText(i)) > spans->view()->minimumWidth())
                misfits << where + QStringLiteral(" open span list: ") + spans->itemText(i);
        // The rest of the window, and the cut settings with their span choice.
        spans->hide();
        CheckDialog(m_dlg.get(), where, &misfits);
        // The play button's caption while it plays.
        m_dlg->OnPlayHere();
        EXPECT_TRUE(m_dlg->Playing());
        CheckDialog(m_dlg.get(), where + QStringLiteral(" playing"), &misfits);
        m_dlg->StopPlaying();
        CAVConvertDlg* progress = m_dlg->ProgressDialog();
        progress->OnInitDialog();
        progress->SetTotalText(QStringLiteral("999 ") + Ui("TISHI", "wjwczg") + QStringLiteral(" 999 ") +
                               LanguageText("TISHI", "pd1"));
        CheckDialog(progress, language + QStringLiteral(" progress"), &misfits);
        progress->CountSpans(true);  // its captions for spans
        progress->OnInitDialog();
        progress->SetTotalText(QStringLiteral("999 ") + Ui("TISHI", "wjwczg") + QStringLiteral(" 999 ") +
                               LanguageText("TISHI", "pd1"));
        CheckDialog(progress, language + QStringLiteral(" progress of spans"), &misfits);
        progress->CountSpans(false);
        CFileInfomation cut;
        cut.span_count = 3;
        cut.OnInitDialog();
        CheckDialog(&cut, language + QStringLiteral(" cut"), &misfits);
        // Every span text is a text of this language, not a missing key.
        for (const char* key : {"xpd", "pdn", "pd", "ygwj", "mdyg"})
            if (LanguageText("JIEMIAN", key).isEmpty())
                misfits << language + QStringLiteral(" has no JIEMIAN/") + key;
    }
    EXPECT_TRUE(misfits.isEmpty()) << misfits.join(QLatin1Char('\n')).toStdString();
}
