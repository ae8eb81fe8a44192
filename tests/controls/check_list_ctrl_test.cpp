// SPDX-License-Identifier: GPL-3.0-or-later
// The header check box of the join list follows the rows, and the rows follow it.

#include "check_list_ctrl.h"

#include <QStyleOptionViewItem>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class CheckListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        list_ = std::make_unique<CCheckListCtrl>();
        list_->resize(500, 200);
        list_->setHeaderLabels({"Source file", "Format", "Length", "Size", "Frame rate", "Status"});
        ASSERT_TRUE(list_->SetupHeaderCheckBox());
        list_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(list_.get()));
    }

    void AddRows(std::initializer_list<bool> ticks)
    {
        for (bool tick : ticks)
            list_->AddRow({QStringLiteral("file.mp4")}, tick);
    }

    void ClickHeader(int section)
    {
        QHeaderView* header = list_->header();
        const QPoint point(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                           header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    }

    void ClickRowBox(int row)
    {
        QStyleOptionViewItem option;
        option.initFrom(list_->viewport());
        option.rect = list_->visualRect(list_->model()->index(row, 0));
        option.features |= QStyleOptionViewItem::HasCheckIndicator;
        const QRect box = list_->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list_.get());
        QTest::mouseClick(list_->viewport(), Qt::LeftButton, Qt::NoModifier, box.center());
    }

    int Box() const { return list_->HeaderBox()->ImageIndex(); }

    int TickedRows() const
    {
        int ticked = 0;
        for (int row = 0; row < list_->topLevelItemCount(); ++row)
            ticked += list_->IsRowChecked(row);
        return ticked;
    }

    std::unique_ptr<CCheckListCtrl> list_;
};

TEST_F(CheckListTest, StartsUncheckedAndShowsTheBoxPicture)
{
    EXPECT_EQ(Box(), CCheckHeadCtrl::kUnchecked);
    EXPECT_FALSE(list_->headerItem()->data(0, Qt::DecorationRole).isNull());
    EXPECT_TRUE(list_->SetupHeaderCheckBox()) << "a second set-up is harmless";
}

TEST_F(CheckListTest, OnAnEmptyListAHeaderClickOnlyTogglesTheBox)
{
    ClickHeader(0);
    EXPECT_EQ(Box(), CCheckHeadCtrl::kChecked);
    ClickHeader(0);
    EXPECT_EQ(Box(), CCheckHeadCtrl::kUnchecked);
}

TEST_F(CheckListTest, AHeaderClickTicksOrClearsEveryRow)
{
    AddRows({true, false, true});
    ASSERT_EQ(Box(), CCheckHeadCtrl::kUnchecked);
    ClickHeader(0);
    EXPECT_EQ(Box(), CCheckHeadCtrl::kChecked);
    EXPECT_EQ(TickedRows(), 3);
    ClickHeader(0);
    EXPECT_EQ(Box(), CCheckHeadCtrl::kUnchecked);
    EXPECT_EQ(TickedRows(), 0);
}

TEST_F(CheckListTest, TheBoxFollowsTheRows)
{
    AddRows({true, true, true});
    EXPECT_EQ(Box(), CCheckHeadCtrl::kChecked);
    list_->SetRowChecked(1, false);
    EXPECT_EQ(Box(), CCheckHeadCtrl::kUnchecked);
    list_->SetRowChecked(1, true);
    EXPECT_EQ(Box(), CCheckHeadCtrl::kChecked);

    // A user clicking a row's own box counts the same.
    ClickRowBox(2);
    EXPECT_FALSE(list_->IsRowChecked(2));
    EXPECT_EQ(Box(), CCheckHeadCtrl::kUnchecked);
    ClickRowBox(2);
    EXPECT_EQ(Box(), CCheckHeadCtrl::kChecked);

    list_->AddRow({QStringLiteral("new.mp4")}, false);
    EXPECT_EQ(Box(), CCheckHeadCtrl::kUnchecked) << "a new unticked row";
    delete list_->takeTopLevelItem(3);
    EXPECT_EQ(Box(), CCheckHeadCtrl::kChecked) << "the only unticked row went";
}

TEST_F(CheckListTest, ClickingAnotherHeaderChangesNothing)
{
    AddRows({true, false});
    ClickHeader(2);
    EXPECT_EQ(Box(), CCheckHeadCtrl::kUnchecked);
    EXPECT_EQ(TickedRows(), 1);
}

}  // namespace
