// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A report list with a check box per row and one in the first column's
// header: clicking the header box ticks or clears every row, and the box
// shows ticked exactly when every row is ticked.

#include <QHeaderView>
#include <QPixmap>
#include <QTreeWidget>

#include <array>

class CCheckHeadCtrl : public QHeaderView {
    Q_OBJECT

public:
    // Image indices of the header box, as in its three-picture strip.
    static constexpr int kNoBox = 0;
    static constexpr int kUnchecked = 1;
    static constexpr int kChecked = 2;

    explicit CCheckHeadCtrl(QTreeWidget* list);

    // Cuts the 16-pixel pictures out of a strip; magenta is transparent.
    void SetImages(const QImage& strip);
    int ImageIndex() const { return m_imageIndex; }
    void SetImageIndex(int index);

private:
    void OnItemClicked(int section);

    QTreeWidget* m_list;
    std::array<QPixmap, 3> m_images;
    int m_imageIndex = kNoBox;
};

class CCheckListCtrl : public QTreeWidget {
    Q_OBJECT

public:
    explicit CCheckListCtrl(QWidget* parent = nullptr);

    // Puts the box into header item 0; call once the columns exist.
    bool SetupHeaderCheckBox();

    CCheckHeadCtrl* HeaderBox() const { return m_header; }

    // Rows as the owner sees them: index, tick and all.
    QTreeWidgetItem* AddRow(const QStringList& texts, bool checked);
    bool IsRowChecked(int row) const;
    void SetRowChecked(int row, bool checked);

private:
    void OnRowStateChanged();

    bool m_headerInitDone = false;
    CCheckHeadCtrl* m_header = nullptr;
};
