// SPDX-License-Identifier: GPL-3.0-or-later
// One timeline move as the user feels it on every pixel of a drag: the main
// window's slider handler decodes the picture at the position, writes the
// snapshot JPEG, loads it back and draws it into the preview area. Source:
// 1920x1080 H.264, 60 s, 10 s GOP with B-frames (the preview bench's file).
//
//   timeline_bench [MEDIA_DIR] [MOVES]
#include "bench_support.h"

#include "bitmap_slider.h"
#include "morvane_dlg.h"
#include "seams.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>

#include <cmath>

namespace {

double Ms(bench::Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bench::fs::path dir = argc > 1 ? argv[1] : "bench_media";
    const int moves = argc > 2 ? std::atoi(argv[2]) : 200;
    bench::fs::create_directories(dir);
    const bench::fs::path source = dir / "h264_1080p_gop250.mp4";
    if (!bench::MakeMedia(source,
                          "-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=60"
                          " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=60"
                          " -c:v libx264 -preset veryfast -bf 3 -g 250 -keyint_min 250 -sc_threshold 0"
                          " -pix_fmt yuv420p -c:a aac -b:a 128k"))
        return 1;

    // The snapshot goes to the media folder instead of beside the bench.
    platform::ScopedSeams seams;
    const QString folder = QDir(QString::fromStdString(dir.string())).absolutePath();
    platform::CurrentSeams().appDirectory = [folder] { return folder; };
    platform::CurrentSeams().getOpenFileNames = [&](QWidget*, const QString&) {
        return QStringList{QString::fromStdString(bench::fs::absolute(source).string())};
    };
    int messages = 0;
    platform::CurrentSeams().messageBox = [&](const platform::MessageBoxRequest&) { ++messages; };

    CMorvaneDlg window;
    window.show();
    window.OnAddFiles();
    if (messages != 0 || window.CutFile().isEmpty()) {
        std::fprintf(stderr, "the source could not be added\n");
        return 1;
    }

    // Positions over the whole timeline in an order a drag could produce,
    // never the same one twice in a row.
    std::vector<double> ms;
    CBitmapSlider* slider = window.Slider();
    for (int i = 0; i < moves; ++i) {
        slider->SetPos(static_cast<int>(std::fmod(i * 73.1 + 5.0, 995.0)));
        const auto start = bench::Clock::now();
        window.OnSliderMoving();
        ms.push_back(Ms(bench::Clock::now() - start));
    }

    // The part after the decoder: load the JPEG from disk and draw it.
    std::vector<double> draw;
    for (int i = 0; i < moves; ++i) {
        const auto start = bench::Clock::now();
        window.DrawSnapshot();
        draw.push_back(Ms(bench::Clock::now() - start));
    }

    // One key press, from the key to the preview drawn: Right (one picture)
    // and Page Down (next key picture), once the key pictures are known.
    for (int i = 0; i < 2000 && window.KeyFramesUs().empty(); ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Right stays within the group of pictures shown (no new picture to
    // decode); Page Down always reaches another key picture.
    std::vector<double> right, page;
    for (int i = 0; i < moves; ++i) {
        const bool wrap = window.CurrentMs() + 10000 >= 60000;
        const int key = wrap ? Qt::Key_Home : i % 4 == 0 ? Qt::Key_PageDown : Qt::Key_Right;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        const auto start = bench::Clock::now();
        QApplication::sendEvent(slider, &press);
        if (!wrap)
            (key == Qt::Key_Right ? right : page).push_back(Ms(bench::Clock::now() - start));
    }
    bench::PrintMachineLoad();
    std::printf("source: %s (1920x1080 H.264, 60 s, GOP 250, B-frames 3)\n", source.c_str());
    std::printf("timeline move (decode + JPEG + load + draw) n=%zu median %.2f ms  p90 %.2f ms  min %.2f  max %.2f\n",
                ms.size(), Percentile(ms, 0.5), Percentile(ms, 0.9), *std::min_element(ms.begin(), ms.end()),
                *std::max_element(ms.begin(), ms.end()));
    std::printf("key press to preview shown (goal: median < 30 ms)\n");
    std::printf("  Right (same key picture)  n=%zu median %.2f ms  p90 %.2f ms\n", right.size(),
                Percentile(right, 0.5), Percentile(right, 0.9));
    std::printf("  Page Down (new picture)   n=%zu median %.2f ms  p90 %.2f ms\n", page.size(),
                Percentile(page, 0.5), Percentile(page, 0.9));
    std::printf("  of which: load + draw of the snapshot         median %.2f ms  p90 %.2f ms\n",
                Percentile(draw, 0.5), Percentile(draw, 0.9));
    return 0;
}
