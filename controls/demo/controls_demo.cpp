// SPDX-License-Identifier: GPL-3.0-or-later
// One of each control, set up as the main dialog sets them up, for looking
// at them (e.g. under xvfb-run with a screenshot).
//
//   morvane_controls_demo [screenshot.png]

#include "bitmap_slider.h"
#include "check_list_ctrl.h"
#include "control_button.h"
#include "hyperlink.h"
#include "label.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace {

CControlButton* AddButton(QWidget* parent, int bitmap, int x, int y, bool shaped = true)
{
    auto* button = new CControlButton(parent);
    button->setGeometry(x, y, 10, 10);
    button->SetBitmaps(bitmap, bitmap, bitmap, bitmap);
    if (shaped)
        button->SetRegionFromBitmap(bitmap);
    return button;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Morvane controls"));
    window.resize(690, 420);

    const int buttons[][3] = {{178, 100, 56}, {186, 102, 43}, {254, 55, 40}, {295, 100, 56},
                              {331, 100, 56}, {326, 34, 32},  {320, 34, 32}, {321, 34, 32}};
    int x = 12;
    for (const auto& b : buttons) {
        AddButton(&window, b[0], x, 12, b[0] != 295)->resize(b[1], b[2]);
        x += b[1] + 8;
    }

    auto* slider = new CBitmapSlider(&window);
    slider->setObjectName(QStringLiteral("1140"));
    slider->move(12, 90);
    slider->SetBitmapChannel(306, 307);
    slider->SetBitmapThumb(308, 308);
    slider->SetRange(0, 1000);
    slider->SetPos(400);
    slider->SetMargin(0, 4, 4, 0);
    slider->DrawFocusRect(false);
    slider->SetStartMarker(250);
    slider->SetEndMarker(700);
    slider->SetMarkerMode(2);

    auto* list = new CCheckListCtrl(&window);
    list->setGeometry(12, 130, 666, 150);
    list->setHeaderLabels({QStringLiteral("Source file"), QStringLiteral("Format"), QStringLiteral("Length"),
                           QStringLiteral("Size"), QStringLiteral("Frame rate"), QStringLiteral("Status")});
    list->SetupHeaderCheckBox();
    list->AddRow({QStringLiteral("holiday.mp4"), QStringLiteral("mp4"), QStringLiteral("00:01:12.000"),
                  QStringLiteral("1920x1080"), QStringLiteral("25"), QStringLiteral("Ready")}, true);
    list->AddRow({QStringLiteral("interview.mkv"), QStringLiteral("matroska"), QStringLiteral("00:12:03.480"),
                  QStringLiteral("1280x720"), QStringLiteral("30"), QStringLiteral("Done")}, true);
    list->AddRow({QStringLiteral("clip.avi"), QStringLiteral("avi"), QStringLiteral("00:00:09.120"),
                  QStringLiteral("640x480"), QStringLiteral("24"), QStringLiteral("Failed")}, false);

    auto* label = new CLabel(&window);
    label->setGeometry(12, 292, 420, 40);
    label->setText(QStringLiteral("holiday.mp4   45% done — a label wraps long lines at word boundaries"));

    auto* link = new CHyperLink(&window);
    link->move(12, 344);
    QFont linkFont = link->font();
    linkFont.setPointSize(10);
    link->setFont(linkFont);
    link->setText(QStringLiteral("Help"));
    link->SetURL(QStringLiteral("README.md"));
    link->SetUnderline(CHyperLink::UnderlineAlways);

    auto* japanese = new CLabel(&window);
    japanese->setGeometry(12, 372, 420, 24);
    japanese->setText(QString::fromUtf8("日本語の表示: 切り出し / 結合 / 出力フォルダー"));

    window.show();
    if (argc > 1) {
        const QString shot = QString::fromLocal8Bit(argv[1]);
        QTimer::singleShot(300, &window, [&window, shot] {
            window.grab().save(shot);
            QApplication::quit();
        });
    }
    return app.exec();
}
