// SPDX-License-Identifier: GPL-3.0-or-later
#include "check_list_ctrl.h"

#include "resource_loader.h"

#include <QImage>

namespace {

constexpr int kHeaderStripBitmap = 292;
constexpr int kBoxSize = 16;

QImage WithMagentaTransparent(const QImage& picture)
{
    QImage result = picture.convertToFormat(QImage::Format_ARGB32);
    const QRgb magenta = qRgb(255, 0, 255);
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x)
            if (line[x] == magenta)
                line[x] = qRgba(0, 0, 0, 0);
    }
    return result;
}

}  // namespace

CCheckHeadCtrl::CCheckHeadCtrl(QTreeWidget* list)
    : QHeaderView(Qt::Horizontal, list), m_list(list)
{
    connect(this, &QHeaderView::sectionClicked, this, &CCheckHeadCtrl::OnItemClicked);
}

void CCheckHeadCtrl::SetImages(const QImage& strip)
{
    for (int index = 0; index < static_cast<int>(m_images.size()); ++index) {
        if (strip.width() < (index + 1) * kBoxSize) {
            m_images[index] = QPixmap();
            continue;
        }
        m_images[index] = QPixmap::fromImage(
            WithMagentaTransparent(strip.copy(index * kBoxSize, 0, kBoxSize, strip.height())));
    }
    SetImageIndex(m_imageIndex);
}

void CCheckHeadCtrl::SetImageIndex(int index)
{
    m_imageIndex = index;
    QTreeWidgetItem* header = m_list->headerItem();
    const bool known = index >= 0 && index < static_cast<int>(m_images.size());
    header->setData(0, Qt::DecorationRole, known ? QVariant(m_images[index]) : QVariant());
}

void CCheckHeadCtrl::OnItemClicked(int section)
{
    if (section != 0)
        return;
    const int newIndex = m_imageIndex == kUnchecked ? kChecked : kUnchecked;
    SetImageIndex(newIndex);
    // Each row change recomputes the box from the rows; it ends in agreement.
    const Qt::CheckState state = newIndex == kChecked ? Qt::Checked : Qt::Unchecked;
    for (int row = 0; row < m_list->topLevelItemCount(); ++row)
        m_list->topLevelItem(row)->setCheckState(0, state);
}

CCheckListCtrl::CCheckListCtrl(QWidget* parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
}

bool CCheckListCtrl::SetupHeaderCheckBox()
{
    if (m_headerInitDone)
        return true;
    m_header = new CCheckHeadCtrl(this);
    setHeader(m_header);
    // The tree view resets this when it takes the header over.
    m_header->setSectionsClickable(true);
    m_header->SetImages(resources::LoadBitmapResource(kHeaderStripBitmap));
    m_header->SetImageIndex(CCheckHeadCtrl::kUnchecked);
    connect(model(), &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
                if (roles.isEmpty() || roles.contains(Qt::CheckStateRole))
                    OnRowStateChanged();
            });
    connect(this, &QTreeWidget::itemSelectionChanged, this, &CCheckListCtrl::OnRowStateChanged);
    // Rows that come or go change "every row ticked" as well. An emptied
    // list keeps its box: there is nothing left to agree with.
    connect(model(), &QAbstractItemModel::rowsInserted, this, &CCheckListCtrl::OnRowStateChanged);
    connect(model(), &QAbstractItemModel::rowsRemoved, this, [this] {
        if (topLevelItemCount() > 0)
            OnRowStateChanged();
    });
    m_headerInitDone = true;
    return true;
}

void CCheckListCtrl::OnRowStateChanged()
{
    if (!m_headerInitDone)
        return;
    bool everyRowChecked = true;
    for (int row = 0; row < topLevelItemCount() && everyRowChecked; ++row)
        everyRowChecked = topLevelItem(row)->checkState(0) == Qt::Checked;
    m_header->SetImageIndex(everyRowChecked ? CCheckHeadCtrl::kChecked : CCheckHeadCtrl::kUnchecked);
}

QTreeWidgetItem* CCheckListCtrl::AddRow(const QStringList& texts, bool checked)
{
    auto* item = new QTreeWidgetItem(texts);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    addTopLevelItem(item);
    return item;
}

bool CCheckListCtrl::IsRowChecked(int row) const
{
    const QTreeWidgetItem* item = topLevelItem(row);
    return item && item->checkState(0) == Qt::Checked;
}

void CCheckListCtrl::SetRowChecked(int row, bool checked)
{
    if (QTreeWidgetItem* item = topLevelItem(row))
        item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}
