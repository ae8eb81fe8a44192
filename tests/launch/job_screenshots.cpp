// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures of every dialog of a cut and a join, taken while the real window
// runs them under a display (xvfb-run). Writes PNGs into the folder given.
#include "av_convert_dlg.h"
#include "bitmap_slider.h"
#include "check_list_ctrl.h"
#include "file_infomation_dlg.h"
#include "morvane_dlg.h"
#include "seams.h"
#include "settings_dlg.h"
#include "settings_file.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <map>

namespace {

QString g_shots;
std::function<void(QWidget*)> g_onSettings;  // acts on the open settings dialog
QString g_messageName;                        // name of the next message picture
QString g_progressName;
bool g_progressTaken = false;

void Save(QWidget* widget, const QString& name)
{
    const QString path = g_shots + "/" + name + ".png";
    widget->grab().save(path);
    std::printf("%s\n", path.toUtf8().constData());
}

// Runs from the modal loops: answers whatever dialog is open.
void Drive()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        Save(box, g_messageName);
        std::printf("  message: %s\n", box->text().toUtf8().constData());
        box->button(QMessageBox::Ok)->click();
    } else if (qobject_cast<CFileInfomation*>(modal) || qobject_cast<CSettings*>(modal)) {
        if (g_onSettings) {
            auto act = g_onSettings;
            g_onSettings = nullptr;
            act(modal);
        }
    } else if (auto* progress = qobject_cast<CAVConvertDlg*>(modal)) {
        if (!g_progressTaken && progress->findChild<QProgressBar*>("1011")->value() >= 20) {
            g_progressTaken = true;
            Save(progress, g_progressName);
        }
    }
}

void Settings(const QString& name, int radio, int format, int startId)
{
    g_onSettings = [=](QWidget* dlg) {
        dlg->findChild<QRadioButton*>(QString::number(radio))->click();
        if (format >= 0)
            dlg->findChild<QComboBox*>("1105")->setCurrentIndex(format);
        QApplication::processEvents();
        Save(dlg, name);
        dlg->findChild<QPushButton*>(QString::number(startId))->click();
    };
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: morvane_job_screenshots MEDIA_FOLDER SHOTS_FOLDER\n");
        return 2;
    }
    const QString media = QString::fromLocal8Bit(argv[1]);
    g_shots = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(g_shots + "/out");
    i18n::WriteSetting("PATH", "name", g_shots + "/out");
    i18n::WriteSetting("CUT", "exact", "1");  // the direct cut is shown with exact start and end

    QStringList answer;
    platform::CurrentSeams().getOpenFileNames = [&](QWidget*, const QString&) { return answer; };
    platform::CurrentSeams().shellOpen = [](const QString& target) {
        std::printf("  shell opens: %s\n", target.toUtf8().constData());
        return platform::kShellSuccess;
    };
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, Drive);
    driver.start(100);

    CMorvaneDlg dlg;
    dlg.show();
    QApplication::processEvents();

    answer = {media + "/long_h264_aac.mp4"};
    dlg.OnAddFiles();
    dlg.Slider()->SetPos(dlg.Slider()->RangeMax() / 5);  // the timeline counts milliseconds
    dlg.OnSliderMoving();
    dlg.OnStartPoint();
    dlg.Slider()->SetPos(dlg.Slider()->RangeMax() * 3 / 5);
    dlg.OnSliderMoving();
    dlg.OnEndPoint();
    QApplication::processEvents();
    Save(&dlg, "01-cut-tab");

    Settings("02-cut-settings-direct", 1189, -1, 1194);
    g_messageName = "03-cut-direct-done";
    g_progressName = "03-cut-direct-progress";
    dlg.OnLaunchCut();

    Settings("04-cut-settings-mkv", 1007, 6, 1194);
    g_messageName = "06-cut-indirect-done";
    g_progressName = "05-cut-indirect-progress";
    g_progressTaken = false;
    dlg.OnLaunchCut();

    dlg.Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    answer = {media + "/h264_aac.mp4", media + "/h264_640.mp4", media + "/long_h264_aac.mp4"};
    dlg.OnAddFiles();
    QApplication::processEvents();
    Save(&dlg, "07-join-tab");

    Settings("08-join-settings-direct", 1256, -1, 1);
    g_messageName = "09-join-direct-refused";
    dlg.OnLaunchJoin();

    Settings("10-join-settings-avi", 1007, 2, 1);
    g_messageName = "12-join-indirect-done";
    g_progressName = "11-join-indirect-progress";
    g_progressTaken = false;
    dlg.OnLaunchJoin();
    QApplication::processEvents();
    Save(&dlg, "13-join-tab-after");
    dlg.close();
    return 0;
}
