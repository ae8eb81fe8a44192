// SPDX-License-Identifier: GPL-3.0-or-later
// The join tab: the list of files to join, its columns and grid, and its
// rows added and removed.
#include "morvane_dlg.h"

#include "check_list_ctrl.h"
#include "conversion_job.h"
#include "dialog_template.h"
#include "job_setup.h"
#include "ui_strings.h"
#include "window_parts.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTreeWidgetItem>

#include <algorithm>

using i18n::g_uiStrings;
using window_parts::kColumns;
using window_parts::kJoinRowRole;
using window_parts::ListColumn;
using window_parts::Ui;

namespace {

// The report list's grid lines: each cell gets a right and a bottom edge,
// drawn below the text. A row is as tall as a line of text that may fall
// back to a CJK face, descenders and underscores included, plus that edge.
class GridLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        constexpr int kMargins = 2;
        constexpr int kGridLine = 1;
        size.setHeight(std::max(size.height(), dialogs::MixedLineHeight(option.font) + kMargins) + kGridLine);
        return size;
    }

protected:
    // A path too long for its cell keeps its file name: the folder gives way.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() != 0)
            return;
        const QWidget* widget = option->widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const int width = style->subElementRect(QStyle::SE_ItemViewItemText, option, widget).width() - 2 * margin;
        option->text = dialogs::ElidedPathLine(option->fontMetrics, width, option->text);
    }

public:
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem aboveLine(option);
        aboveLine.rect.setBottom(option.rect.bottom() - 1);
        QStyledItemDelegate::paint(painter, aboveLine, index);
        painter->save();
        painter->setPen(QColor(212, 212, 212));
        const QRect cell = option.rect;
        painter->drawLine(cell.topRight(), cell.bottomRight());
        painter->drawLine(cell.bottomLeft(), cell.bottomRight());
        painter->restore();
    }
};

}  // namespace

void CMorvaneDlg::SetUpFileList()
{
    m_listFiles->setColumnCount(static_cast<int>(std::size(kColumns)));
    QStringList headers;
    for (const ListColumn& column : kColumns)
        headers << g_uiStrings.Text(QStringLiteral("JIEMIAN"), QString::fromLatin1(column.key));
    m_listFiles->setHeaderLabels(headers);
    m_listFiles->SetupHeaderCheckBox();
    // The check header replaced the list's own, so the widths go on it.
    m_listFiles->header()->setStretchLastSection(false);
    m_listFiles->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i)
        m_listFiles->setColumnWidth(i, kColumns[i].width);
    m_listFiles->setItemDelegate(new GridLineDelegate(m_listFiles));
    // A long path gives way in its middle, so the file's name stays readable.
    m_listFiles->setTextElideMode(Qt::ElideMiddle);
}

void CMorvaneDlg::AppendJoinRow(const QString& path)
{
    if (QTreeWidgetItem* first = m_listFiles->topLevelItem(0))
        first->setSelected(false);
    auto row = std::make_shared<const JoinRow>(MakeJoinRow(path.toStdString(), *g_pJob));
    QTreeWidgetItem* item = m_listFiles->AddRow(
        {path, QString::fromStdString(FileExtension(row->path)), QString::fromStdString(JoinRowLengthText(*row)),
         QString::fromStdString(JoinRowSizeText(*row)), QString::fromStdString(JoinRowRateText(*row)),
         Ui("JIEMIAN", "zb")},
        true);
    item->setData(0, kJoinRowRole, QVariant::fromValue(std::shared_ptr<const JoinRow>(row)));
    m_listFiles->viewport()->update();
}

void CMorvaneDlg::DeleteSelectedRow()
{
    int selected = -1;
    for (int row = 0; row < m_listFiles->topLevelItemCount() && selected < 0; ++row)
        if (m_listFiles->topLevelItem(row)->isSelected())
            selected = row;
    if (selected < 0)
        return;
    delete m_listFiles->takeTopLevelItem(selected);
    const int count = m_listFiles->topLevelItemCount();
    m_listFiles->viewport()->update();
    if (count > 0) {
        m_listFiles->setCurrentItem(m_listFiles->topLevelItem(std::min(selected, count - 1)));
        m_listFiles->setFocus();
    }
}
