// SPDX-License-Identifier: GPL-3.0-or-later
// The cut tab: the cut file loaded into the preview and the timeline, moves
// along it (slider and keys, by picture or key picture), and the start and
// end points. Its span list is in span_list.cpp.
#include "morvane_dlg.h"

#include "bitmap_slider.h"
#include "control_button.h"
#include "conversion_job.h"
#include "job_setup.h"
#include "key_frame_scanner.h"
#include "preview.h"
#include "preview_worker.h"
#include "seams.h"
#include "window_parts.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QTabBar>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <limits>

using window_parts::kZeroTime;
using window_parts::TimeText;

namespace {

constexpr int kChannelBitmap = 306;
constexpr int kActiveChannelBitmap = 307;
constexpr int kThumbBitmap = 308;
// Page Up and Page Down before the key pictures are known: a fiftieth of the file.
constexpr int kPageStepThousandths = 20;
constexpr int kTimelineScrollId = 1307;
// The closest zoom of the timeline, and how far + and - zoom.
constexpr double kPixelsPerPictureZoomed = 4;
constexpr double kZoomStep = 2;
constexpr long long kShiftStepMs = 1000;
constexpr long long kCtrlStepMs = 10000;
// How long the window rests at a new size before its picture is decoded again.
constexpr int kPreviewResizeRestMs = 200;

}  // namespace

void CMorvaneDlg::SetUpSlider()
{
    m_slider->SetBitmapChannel(kChannelBitmap, kActiveChannelBitmap);
    m_slider->SetBitmapThumb(kThumbBitmap, kThumbBitmap);
    m_slider->DrawFocusRect(true);
    m_slider->SetRange(0, 1000);
    m_slider->SetPos(0);
    m_slider->SetMargin(0, 4, 4, 0);
    m_slider->setEnabled(false);
}

void CMorvaneDlg::CreateTimelineScrollBar()
{
    m_timelineScroll = new QScrollBar(Qt::Horizontal, this);
    m_timelineScroll->setObjectName(QString::number(kTimelineScrollId));
    m_timelineScroll->setFocusPolicy(Qt::NoFocus);
    m_timelineScroll->hide();
    connect(m_timelineScroll, &QScrollBar::valueChanged, this, [this](int from) { m_slider->ScrollTo(from); });
    connect(m_slider, &CBitmapSlider::viewChanged, this, &CMorvaneDlg::FollowTimelineView);
}

void CMorvaneDlg::FollowTimelineView()
{
    const QSignalBlocker quiet(m_timelineScroll);
    const int span = static_cast<int>(std::lround(m_slider->ViewSpan()));
    m_timelineScroll->setRange(m_slider->RangeMin(), std::max(m_slider->RangeMin(), m_slider->RangeMax() - span));
    m_timelineScroll->setPageStep(std::max(1, span));
    m_timelineScroll->setSingleStep(std::max(1, span / 8));
    m_timelineScroll->setValue(static_cast<int>(std::lround(m_slider->ViewFrom())));
    PlaceTimelineScrollBar();
}

void CMorvaneDlg::PlaceTimelineScrollBar()
{
    if (!m_timelineScroll)
        return;
    const bool shown = m_slider->Zoomed() && m_tab->currentIndex() == kCutTab;
    LayOutControl(m_preview);
    if (shown) {
        const int high = m_timelineScroll->sizeHint().height();
        const QRect preview = m_preview->geometry();
        m_preview->setGeometry(preview.adjusted(0, 0, 0, -high));
        m_timelineScroll->setGeometry(preview.x(), preview.bottom() + 1 - high, preview.width(), high);
        m_timelineScroll->raise();
    }
    m_timelineScroll->setVisible(shown);
    FollowPreviewBox();
}

// Found once per cut file: the folder lookup asks the file system, which a
// drag or a play would otherwise do for every picture.
void CMorvaneDlg::UseSnapshotPath()
{
    m_strSnapshotPath = GetAppFolderWithSlash(platform::AppFiles::Cache) + QStringLiteral("image.jpg");
    m_snapshotPathWide = m_strSnapshotPath.toStdWString();
    PointRecordAtCutFile();
}

void CMorvaneDlg::PointRecordAtCutFile()
{
    g_pJob->snapshot_path = m_snapshotPathWide.data();
    // The preview shows the cut file, whichever file was probed last.
    g_pJob->probe_path = m_cutFacts.path_utf8.data();
}

void CMorvaneDlg::LoadCutFile()
{
    StopPlaying();
    m_btnAdd->hide();
    g_pJob->current_input = 0;
    g_pJob->start_s[0] = 0.0;
    UseSnapshotPath();
    const QSize box = PreviewBox();
    m_pictures->Open(m_cutFacts.path_utf8.c_str(), box.width(), box.height());
    m_cutFacts.origin_us = m_pictures->OriginUs();
    m_nCurrentMs = 0;
    ShowPreview(0, true);
    // The timeline counts milliseconds, so a close zoom can reach every picture.
    m_slider->SetRange(0, SliderPositionOfMs(DurationMs()));
    m_slider->SetFinestScale(kPixelsPerPictureZoomed * static_cast<double>(m_cutFacts.fps_num) /
                             (1000.0 * static_cast<double>(m_cutFacts.fps_den)));
    m_slider->SetPos(0);
    m_keyFramesUs.clear();
    m_slider->SetTicks({});
    ForgetFoundPoints();
    m_keyFrameScanner->Start(m_cutFacts.path_utf8,
                             [this](std::vector<int64_t> times) { OnKeyFramesScanned(std::move(times)); });

    const long long start = m_cutFacts.initial_start_us / 1000;
    const long long end = m_cutFacts.initial_end_us / 1000;
    m_slider->SetStartMarker(SliderPositionOfMs(start));
    m_slider->SetEndMarker(SliderPositionOfMs(end));

    Edit(1023)->setText(TimeText(start));
    Edit(1024)->setText(TimeText(end));
    Static(1025)->setText(TimeText(end - start));
    Static(1184)->setText(TimeText(start) + QStringLiteral(" / ") + TimeText(end));
    m_slider->setEnabled(true);
    m_spans.clear();  // spans belong to the file they were marked in
    RefreshSpans(-1);
    ForgetUndo();
    // The keys step along the new file straight away.
    m_slider->setFocus(Qt::OtherFocusReason);
}

void CMorvaneDlg::OnSliderMoving()
{
    // Nothing to preview before a cut file exists (the slider is disabled then).
    if (!g_pJob || m_cutFacts.path_utf8.empty())
        return;
    StopPlaying();  // the user takes the thumb
    MoveToMs(m_slider->GetPos(), false);
}

// A release, or a move the slider made by itself: the thumb rests, so the
// picture becomes the exact one.
void CMorvaneDlg::OnSliderMoved()
{
    if (!g_pJob || m_cutFacts.path_utf8.empty())
        return;
    if (m_slider->GetPos() != SliderPositionOfMs(m_nCurrentMs))
        OnSliderMoving();
    if (!m_previewExact)
        ShowPreview(m_nCurrentMs, true);
}

int CMorvaneDlg::SliderPositionOfMs(long long ms) const
{
    return static_cast<int>(std::clamp<long long>(ms, 0, std::numeric_limits<int>::max()));
}

void CMorvaneDlg::MoveToMs(long long ms, bool exact)
{
    if (!g_pJob || m_cutFacts.path_utf8.empty())
        return;
    const long long duration = DurationMs();
    ms = std::max(0LL, std::min(ms, duration));
    m_slider->SetPos(SliderPositionOfMs(ms));
    m_nCurrentMs = static_cast<int>(ms);
    Static(1184)->setText(TimeText(m_nCurrentMs) + QStringLiteral(" / ") + TimeText(duration));
    g_pJob->current_input = 0;
    g_pJob->start_s[0] = static_cast<double>(ms) / 1000.0;
    ShowPreview(ms, exact);
}

void CMorvaneDlg::ShowPreview(long long ms, bool exact)
{
    const int64_t us = ms * 1000;
    PreviewPicture picture;
    // A picture that cannot be shown leaves the one before on the screen.
    if (!exact) {
        if (m_pictures->KeyPictureAt(us, &picture))
            ShowPicture(picture, false);
        m_previewExact = false;
        return;
    }
    // A jump decodes up to a whole group of pictures: the key picture before
    // the time shows at once, and the exact one follows from the background.
    if (m_pictures->IsJump(us) && m_pictures->KeyPictureAt(us, &picture))
        ShowPicture(picture, false);
    m_previewExact = false;
    const auto shown = m_pictures->PictureAt(us, &picture, [this](const PreviewPicture& p) { ShowPicture(p, true); });
    if (shown == PreviewWorker::Result::Shown)
        ShowPicture(picture, true);
}

void CMorvaneDlg::ShowPicture(const PreviewPicture& picture, bool exact)
{
    PointRecordAtCutFile();
    WritePreviewJpeg(m_snapshotPathWide.c_str(), picture);
    m_shownPicture =
        QImage(picture.rgb.data(), picture.width, picture.height, picture.width * 3, QImage::Format_RGB888).copy();
    m_shownPictureInside = QRect(picture.shown_x, picture.shown_y, picture.shown_width, picture.shown_height);
    m_previewExact = exact;
    DrawSnapshot();
}

bool CMorvaneDlg::PreviewPending() const { return m_pictures && m_pictures->Pending(); }

int64_t CMorvaneDlg::PictureAtMs(long long ms) const
{
    return ms * m_cutFacts.fps_num / (1000 * m_cutFacts.fps_den);
}

// The first whole millisecond of picture `n`, so the picture shown there is `n` itself.
long long CMorvaneDlg::PictureStartMs(int64_t n) const
{
    const int64_t scaled = n * 1000 * m_cutFacts.fps_den;
    return (scaled + m_cutFacts.fps_num - 1) / m_cutFacts.fps_num;
}

void CMorvaneDlg::OnKeyFramesScanned(std::vector<int64_t> times_us)
{
    m_keyFramesUs.clear();
    const int64_t duration_us = m_cutFacts.duration_us;
    std::vector<double> fractions;
    for (int64_t t : times_us) {
        const int64_t from_start = t - m_cutFacts.origin_us;
        if (from_start < 0 || from_start > duration_us)
            continue;
        m_keyFramesUs.push_back(from_start);
        fractions.push_back(static_cast<double>(from_start) / static_cast<double>(duration_us));
    }
    m_slider->SetTicks(fractions);
}

long long CMorvaneDlg::KeyFrameAtOrBefore(long long startMs) const
{
    const auto after = std::upper_bound(m_keyFramesUs.begin(), m_keyFramesUs.end(), startMs * 1000);
    if (after == m_keyFramesUs.begin())
        return -1;
    return *(after - 1) / 1000;
}

bool CMorvaneDlg::OnTimelineKey(int key, Qt::KeyboardModifiers held)
{
    if (key == Qt::Key_Space && !(held & Qt::ControlModifier)) {
        OnPlayHere();
        return true;
    }
    // Marking goes on while playing; a move of the thumb ends the play.
    const bool marks = key == Qt::Key_I || key == Qt::Key_O || key == Qt::Key_BracketLeft ||
                       key == Qt::Key_BracketRight;
    if (!marks)
        StopPlaying();
    const long long now = m_nCurrentMs;
    const bool ctrl = held & Qt::ControlModifier;
    const bool back = key == Qt::Key_Left || key == Qt::Key_Up;
    const bool arrow = back || key == Qt::Key_Right || key == Qt::Key_Down;
    if (arrow && (ctrl || (held & Qt::ShiftModifier))) {
        const long long step = ctrl ? kCtrlStepMs : kShiftStepMs;
        MoveToMs(back ? now - step : now + step);
        return true;
    }
    switch (key) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: m_slider->ZoomBy(kZoomStep); return true;
    case Qt::Key_Minus: m_slider->ZoomBy(1 / kZoomStep); return true;
    case Qt::Key_0: m_slider->ZoomToFit(); return true;
    default: break;
    }
    // The other keys mean nothing with Ctrl (Ctrl+Z and the like are the window's).
    if (ctrl)
        return false;
    // A key picture is reached at the first millisecond not before it, so
    // that a start point set there cuts from that very picture.
    const auto keyMs = [](int64_t us) { return (us + 999) / 1000; };
    switch (key) {
    // One picture on the file's exact rate: 29.97 fps steps 34, 33, 34 ms.
    case Qt::Key_Left:
    case Qt::Key_Up:
        MoveToMs(PictureStartMs(std::max<int64_t>(PictureAtMs(now) - 1, 0)));
        return true;
    case Qt::Key_Right:
    case Qt::Key_Down:
        MoveToMs(PictureStartMs(PictureAtMs(now) + 1));
        return true;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        const bool forward = key == Qt::Key_PageDown;
        if (m_keyFramesUs.empty()) {
            const long long step = DurationMs() * kPageStepThousandths / 1000;
            MoveToMs(forward ? now + step : now - step);
            return true;
        }
        long long target = forward ? DurationMs() : 0;
        if (forward) {
            for (int64_t us : m_keyFramesUs)
                if (keyMs(us) > now) {
                    target = keyMs(us);
                    break;
                }
        } else {
            for (auto it = m_keyFramesUs.rbegin(); it != m_keyFramesUs.rend(); ++it)
                if (keyMs(*it) < now) {
                    target = keyMs(*it);
                    break;
                }
        }
        MoveToMs(target);
        return true;
    }
    case Qt::Key_Comma: JumpToFoundPoint(false); return true;
    case Qt::Key_Period: JumpToFoundPoint(true); return true;
    case Qt::Key_Home: MoveToMs(0); return true;
    case Qt::Key_End: MoveToMs(DurationMs()); return true;
    case Qt::Key_I:
    case Qt::Key_BracketLeft: OnStartPoint(); return true;
    case Qt::Key_O:
    case Qt::Key_BracketRight: OnEndPoint(); return true;
    default: return false;
    }
}

void CMorvaneDlg::DrawSnapshot()
{
    m_preview->repaint();
}

QSize CMorvaneDlg::PreviewBox() const
{
    return m_preview->rect().adjusted(1, 1, -1, -1).size().expandedTo(QSize(1, 1));
}

// The picture is decoded at the size of the preview's box again once the
// window rests at its new size; until then the last one is drawn scaled.
void CMorvaneDlg::FollowPreviewBox()
{
    if (!m_previewBoxTimer) {
        m_previewBoxTimer = new QTimer(this);
        m_previewBoxTimer->setSingleShot(true);
        m_previewBoxTimer->setInterval(kPreviewResizeRestMs);
        connect(m_previewBoxTimer, &QTimer::timeout, this, [this] {
            const QSize box = PreviewBox();
            // No record once the window has closed: nothing is shown then.
            if (!g_pJob || m_strCutFile.isEmpty() || m_pictures->HasBox(box.width(), box.height()))
                return;
            m_pictures->SetBox(box.width(), box.height());
            ShowPreview(m_nCurrentMs, true);
        });
    }
    m_previewBoxTimer->start();
}

// The picture decoded last, at the box's size; before any, the snapshot
// file (a file that does not load leaves the picture drawn before).
void CMorvaneDlg::PaintSnapshot(QPainter& painter, const QRect& area)
{
    if (m_strSnapshotPath.isEmpty())
        return;
    if (m_shownPicture.isNull()) {
        QImage loaded(m_strSnapshotPath);
        if (!loaded.isNull())
            m_shownPicture = loaded;
        if (m_shownPicture.isNull())
            return;
    }
    // The picture's box has its own bars; the picture inside them is drawn
    // as large as the area allows at its shape, between bars of the area's own.
    QRect shown = m_shownPictureInside.intersected(m_shownPicture.rect());
    if (shown.width() < 1 || shown.height() < 1)
        shown = m_shownPicture.rect();
    const QRect inside = area.adjusted(1, 1, -1, -1);
    const QSize fitted = shown.size().scaled(inside.size(), Qt::KeepAspectRatio);
    const QRect target(inside.x() + (inside.width() - fitted.width()) / 2,
                       inside.y() + (inside.height() - fitted.height()) / 2, fitted.width(), fitted.height());
    painter.fillRect(inside, Qt::black);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_shownPicture, shown);
}

void CMorvaneDlg::OnStartPoint()
{
    if (m_strCutFile.isEmpty())
        return;
    const MarkEdit edit(this);
    m_slider->SetStartMarker(m_slider->GetPos());
    m_slider->SetMarkerMode(1);
    m_slider->update();
    // A start before the marked end keeps that end; one at or after it
    // marks up to the file's end.
    long long end_ms = DurationMs();
    int64_t marked_end = 0;
    if (ReadTimeText(Edit(1024)->text().toStdString(), &marked_end) && marked_end > m_nCurrentMs &&
        marked_end < end_ms)
        end_ms = marked_end;
    Edit(1023)->setText(TimeText(m_nCurrentMs));
    Edit(1024)->setText(TimeText(end_ms));
    Static(1025)->setText(TimeText(end_ms - m_nCurrentMs));
    ReMarkSelectedSpan();
}

void CMorvaneDlg::OnEndPoint()
{
    if (m_strCutFile.isEmpty())
        return;
    const MarkEdit edit(this);
    m_slider->SetEndMarker(m_slider->GetPos());
    m_slider->SetMarkerMode(2);
    m_slider->update();
    int64_t start = 0;
    if (!ReadTimeText(Edit(1023)->text().toStdString(), &start))
        start = 0;
    const long long position = m_nCurrentMs;
    if (position > start) {
        Edit(1024)->setText(TimeText(position));
        Static(1025)->setText(TimeText(position - start));
    } else {
        // The earlier time always goes into the start field.
        Edit(1023)->setText(TimeText(position));
        Edit(1024)->setText(TimeText(start));
        Static(1025)->setText(TimeText(start - position));
    }
    ReMarkSelectedSpan();
}

void CMorvaneDlg::OnTimeTextChanged()
{
    // The same reading as Cut's: a field that is no time gives no length.
    int64_t start = 0, end = 0;
    const bool times = ReadTimeText(Edit(1023)->text().toStdString(), &start) &&
                       ReadTimeText(Edit(1024)->text().toStdString(), &end);
    Static(1025)->setText(times && end > start ? TimeText(end - start) : kZeroTime);
}

void CMorvaneDlg::OnTimeTyped(int fieldId)
{
    int64_t typed = 0;
    StopPlaying();
    if (m_strCutFile.isEmpty() || !ReadTimeText(Edit(fieldId)->text().toStdString(), &typed))
        return;
    MoveToMs(typed);
    int64_t start = 0, end = 0;
    if (!ReadTimeText(Edit(1023)->text().toStdString(), &start) ||
        !ReadTimeText(Edit(1024)->text().toStdString(), &end) || end <= start || end > DurationMs())
        return;
    const MarkEdit edit(this);
    m_slider->SetStartMarker(SliderPositionOfMs(start));
    m_slider->SetEndMarker(SliderPositionOfMs(end));
    m_slider->SetMarkerMode(2);
    m_slider->update();
}

void CMorvaneDlg::OnPlay()
{
    platform::ShellOpen(m_strCutFile);
}
