// SPDX-License-Identifier: GPL-3.0-or-later
// Finding a cut by eye: the timeline zooms down to single pictures and
// scrolls, its ticks never run together, spans show at every zoom, the keys
// step by seconds, typed times move the thumb, marks can be undone, and
// another file does not silently take the spans marked in this one.
#include "app_test_support.h"

#include "bitmap_slider.h"
#include "conversion_job.h"

#include <QComboBox>
#include <QProcess>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

class TimelineZoomTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        platform::CurrentSeams().askYesNo = [this](const platform::MessageBoxRequest& request) {
            m_questions << request.text;
            return m_yes;
        };
    }

    // 20 s at 25 fps, every picture a key picture: 500 ticks.
    QString EveryPictureKey()
    {
        const QString path = m_folder.path() + QStringLiteral("/intra.mp4");
        const int rc = QProcess::execute("ffmpeg", {"-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                                                    "testsrc2=size=160x120:rate=25:duration=20", "-c:v", "mpeg4",
                                                    "-g", "1", path});
        EXPECT_EQ(rc, 0);
        return path;
    }
    void Load(const QString& path, size_t keys)
    {
        Add({path});
        m_dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
        QTRY_COMPARE_WITH_TIMEOUT(m_dlg->KeyFramesUs().size(), keys, 30000);
    }
    void Key(int key, Qt::KeyboardModifiers held = Qt::NoModifier)
    {
        QTest::keyClick(m_dlg->Slider(), static_cast<Qt::Key>(key), held);
    }
    static int SmallestGap(const std::vector<int>& pixels)
    {
        int gap = INT_MAX;
        for (size_t i = 1; i < pixels.size(); ++i)
            gap = std::min(gap, pixels[i] - pixels[i - 1]);
        return gap;
    }
    void Wheel(int notches, Qt::KeyboardModifiers held)
    {
        CBitmapSlider* slider = m_dlg->Slider();
        const QPointF at(slider->width() / 2.0, 10);
        QWheelEvent wheel(at, slider->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, held,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(slider, &wheel);
    }
    QScrollBar* ScrollBar() const { return m_dlg->findChild<QScrollBar*>(QStringLiteral("1307")); }
    void Mark(int startMs, int endMs)
    {
        m_dlg->MoveToMs(startMs);
        Key(Qt::Key_I);
        m_dlg->MoveToMs(endMs);
        Key(Qt::Key_O);
    }
    QStringList Fields() const { return {Text(1023), Text(1024)}; }

    QStringList m_questions;
    bool m_yes = false;
};

TEST_F(TimelineZoomTest, ZoomReachesSinglePicturesAroundTheThumbAndKeepsTicksApart)
{
    Load(EveryPictureKey(), 500);
    CBitmapSlider* slider = m_dlg->Slider();
    const std::vector<int> fitTicks = slider->TickPixels();
    EXPECT_GE(SmallestGap(fitTicks), CBitmapSlider::kTickGap) << "500 ticks on 628 pixels";
    EXPECT_FALSE(ScrollBar()->isVisible());

    m_dlg->MoveToMs(12000);
    const int thumbAt = slider->PixelOfPosition(slider->GetPos());
    double span = slider->ViewSpan();
    int zooms = 0;
    for (; zooms < 30; ++zooms) {
        Key(Qt::Key_Plus);
        if (slider->ViewSpan() == span)
            break;
        span = slider->ViewSpan();
        EXPECT_NEAR(slider->PixelOfPosition(slider->GetPos()), thumbAt, 1) << "zoom keeps the thumb's place";
        EXPECT_GE(SmallestGap(slider->TickPixels()), CBitmapSlider::kTickGap) << span;
    }
    EXPECT_LT(zooms, 30);
    // Closest: every picture (40 ms) its own tick, four pixels or more apart.
    const double pixelsPerPicture = slider->Travel() / span * 40;
    EXPECT_GE(pixelsPerPicture, 4.0);
    EXPECT_LT(pixelsPerPicture, 8.0);
    EXPECT_GE(SmallestGap(slider->TickPixels()), 4);
    EXPECT_NEAR(static_cast<double>(slider->TickPixels().size()), span / 40, 2);
    EXPECT_TRUE(ScrollBar()->isVisible());
    EXPECT_EQ(ScrollBar()->value(), static_cast<int>(std::lround(slider->ViewFrom())));

    // The arrow keys still step one picture, and the thumb one tick.
    const int before = slider->PixelOfPosition(slider->GetPos());
    Key(Qt::Key_Right);
    EXPECT_EQ(m_dlg->CurrentMs(), 12040);
    EXPECT_GE(slider->PixelOfPosition(slider->GetPos()) - before, 4);

    // The thumb leaving the view brings the view along.
    Key(Qt::Key_End);
    EXPECT_LE(slider->ViewFrom(), slider->GetPos());
    EXPECT_GE(slider->ViewFrom() + slider->ViewSpan(), slider->GetPos());

    // The scroll bar and the wheel scroll; the thumb stays where it was.
    ScrollBar()->setValue(ScrollBar()->minimum());
    EXPECT_EQ(slider->ViewFrom(), 0);
    Wheel(-2, Qt::NoModifier);
    EXPECT_GT(slider->ViewFrom(), 0);
    EXPECT_EQ(m_dlg->CurrentMs(), 20000);

    // 0 shows the whole file again, exactly as at first.
    Key(Qt::Key_0);
    EXPECT_FALSE(slider->Zoomed());
    EXPECT_EQ(slider->TickPixels(), fitTicks);
    EXPECT_FALSE(ScrollBar()->isVisible());
    // Ctrl and the wheel zoom; - zooms out again.
    Wheel(1, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(slider->ViewSpan(), 10000);
    Key(Qt::Key_Minus);
    EXPECT_FALSE(slider->Zoomed());
}

TEST_F(TimelineZoomTest, DraggingPastTheEdgeOfAZoomedViewScrollsIt)
{
    Load(Media("h264_aac.mp4"), 5);
    CBitmapSlider* slider = m_dlg->Slider();
    m_dlg->MoveToMs(2000);
    for (int i = 0; i < 3; ++i)
        Key(Qt::Key_Plus);
    const double from = slider->ViewFrom();
    const int y = 10, x = slider->PixelOfPosition(slider->GetPos());
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(x, y));
    QTest::mouseMove(slider, QPoint(slider->width() + 40, y));
    QTest::mouseMove(slider, QPoint(slider->width() + 41, y));
    EXPECT_GT(slider->ViewFrom(), from);
    EXPECT_NEAR(slider->GetPos(), slider->ViewFrom() + slider->ViewSpan(), slider->ViewSpan() / 50);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->width() + 41, y));
    QTRY_COMPARE(m_dlg->CurrentMs(), slider->GetPos());
}

TEST_F(TimelineZoomTest, SpansShowAtEveryZoomAndTheChosenOneIsFramedAndShownFromItsStart)
{
    Load(Media("h264_aac.mp4"), 5);
    CBitmapSlider* slider = m_dlg->Slider();
    Mark(1000, 2000);
    ASSERT_TRUE(m_dlg->OnAddSpan());
    Mark(7000, 9000);
    ASSERT_TRUE(m_dlg->OnAddSpan());
    EXPECT_EQ(slider->ChosenSpan(), -1);
    const QImage unframed = slider->grab().toImage();

    // Chosen in the list: the thumb and the preview go to its start.
    m_dlg->MoveToMs(5000);
    for (int i = 0; i < 4; ++i)
        Key(Qt::Key_Plus);
    m_dlg->SpanList()->setCurrentIndex(2);
    m_dlg->OnSpanChosen(2);
    EXPECT_EQ(m_dlg->CurrentMs(), 7000);
    EXPECT_EQ(slider->ChosenSpan(), 1);
    EXPECT_LE(slider->ViewFrom(), 7000);
    EXPECT_GE(slider->ViewFrom() + slider->ViewSpan(), 7000);
    const auto [from, to] = slider->SpanPixels()[1];
    EXPECT_GE(to - from, 50) << "zoomed in, the span is wide";
    // Framed: a pixel of the frame's top edge inside the span differs from an unchosen span.
    Key(Qt::Key_0);
    const auto fit = slider->SpanPixels()[1];
    const QImage framed = slider->grab().toImage();
    const int middle = (fit.first + fit.second) / 2;
    EXPECT_NE(framed.pixel(middle, 3), unframed.pixel(middle, 3));
    EXPECT_GT(qRed(framed.pixel(middle, 3)), 200);
}

TEST_F(TimelineZoomTest, ShiftAndCtrlArrowsStepOneAndTenSeconds)
{
    Load(Media("h264_aac.mp4"), 5);
    const struct {
        int key;
        Qt::KeyboardModifiers held;
        int ms;
    } steps[] = {
        {Qt::Key_Right, Qt::ShiftModifier, 1000},  {Qt::Key_Right, Qt::ShiftModifier, 2000},
        {Qt::Key_Right, Qt::NoModifier, 2040},     {Qt::Key_Left, Qt::ShiftModifier, 1040},
        {Qt::Key_Right, Qt::ControlModifier, 10000}, {Qt::Key_Left, Qt::ShiftModifier, 9000},
        {Qt::Key_Left, Qt::ControlModifier, 0},    {Qt::Key_Left, Qt::ShiftModifier, 0},
    };
    for (const auto& step : steps) {
        Key(step.key, step.held);
        EXPECT_EQ(m_dlg->CurrentMs(), step.ms);
        EXPECT_EQ(m_dlg->Slider()->GetPos(), step.ms);
        EXPECT_DOUBLE_EQ(g_pJob->start_s[0], step.ms / 1000.0);
    }
}

TEST_F(TimelineZoomTest, ATypedTimeMovesTheThumbOnceEnterIsPressedOrTheFieldLeft)
{
    Load(Media("h264_aac.mp4"), 5);
    auto* start = static_cast<QLineEdit*>(Control(1023));
    auto* end = static_cast<QLineEdit*>(Control(1024));
    start->setFocus();
    start->selectAll();
    QTest::keyClicks(start, "0:03.5");
    EXPECT_EQ(m_dlg->CurrentMs(), 0) << "not while typing";
    QTest::keyClick(start, Qt::Key_Return);
    EXPECT_EQ(m_dlg->CurrentMs(), 3500);
    EXPECT_EQ(m_dlg->Slider()->GetPos(), 3500);
    EXPECT_EQ(Text(1184).left(12), "00:00:03.500");

    end->setFocus();
    end->selectAll();
    QTest::keyClicks(end, "7");
    m_dlg->Slider()->setFocus();  // leaving the field
    EXPECT_EQ(m_dlg->CurrentMs(), 7000);
    EXPECT_EQ(m_dlg->Slider()->GetStartMarker(), 3500);
    EXPECT_EQ(m_dlg->Slider()->GetEndMarker(), 7000);
    EXPECT_EQ(m_dlg->Slider()->GetMarkerMode(), 2);

    // Passing through a field without typing moves nothing; nor does a non-time.
    m_dlg->MoveToMs(1000);
    start->setFocus();
    m_dlg->Slider()->setFocus();
    EXPECT_EQ(m_dlg->CurrentMs(), 1000);
    start->setFocus();
    QTest::keyClicks(start, "x");
    QTest::keyClick(start, Qt::Key_Return);
    EXPECT_EQ(m_dlg->CurrentMs(), 1000);
}

TEST_F(TimelineZoomTest, UndoAndRedoWalkBackAndForthThroughMarksAndSpanEdits)
{
    Load(Media("h264_aac.mp4"), 5);
    std::vector<std::pair<QStringList, size_t>> states;  // fields and span count after each step
    const auto note = [&] { states.emplace_back(Fields(), m_dlg->Spans().size()); };
    note();
    m_dlg->MoveToMs(2000);
    Key(Qt::Key_I);
    note();
    m_dlg->MoveToMs(4000);
    Key(Qt::Key_O);
    note();
    ASSERT_TRUE(m_dlg->OnAddSpan());
    note();
    Mark(6000, 8000);  // two steps
    states.emplace_back(QStringList{"00:00:06.000", "00:00:10.000"}, 1);
    note();
    ASSERT_TRUE(m_dlg->OnAddSpan());
    note();
    // Choosing a span is no step of its own: undoing the removal comes back to it.
    m_dlg->SelectSpan(0);
    states.back() = {Fields(), 2};
    m_dlg->RemoveSelectedSpan();
    note();
    ASSERT_EQ(m_dlg->Spans().size(), 1u);
    EXPECT_EQ(m_dlg->Spans()[0].start_ms, 6000);
    EXPECT_FALSE(m_dlg->OnAddSpan()) << "a refused span is no step";
    ASSERT_EQ(m_messages.size(), 1);

    // Ctrl+Z back to the loaded file, one step at a time.
    for (size_t i = states.size() - 1; i > 0; --i) {
        SCOPED_TRACE(i);
        Key(Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(Fields(), states[i - 1].first);
        EXPECT_EQ(m_dlg->Spans().size(), states[i - 1].second);
    }
    EXPECT_FALSE(m_dlg->CanUndo());
    EXPECT_EQ(m_dlg->Slider()->GetMarkerMode(), 0);
    // Ctrl+Shift+Z forward again, to both spans and then the removal.
    for (size_t i = 1; i < states.size(); ++i) {
        Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(Fields(), states[i].first) << i;
        EXPECT_EQ(m_dlg->Spans().size(), states[i].second) << i;
    }
    EXPECT_FALSE(m_dlg->CanRedo());
    EXPECT_EQ(m_dlg->Spans()[0].start_ms, 6000);
    // A new edit after an undo drops what could be redone.
    Key(Qt::Key_Z, Qt::ControlModifier);
    Key(Qt::Key_I);
    EXPECT_FALSE(m_dlg->CanRedo());

    // Ctrl+Z in a time field undoes the typing only.
    auto* start = static_cast<QLineEdit*>(Control(1023));
    const size_t spans = m_dlg->Spans().size();
    start->setFocus();
    start->setText("00:00:01.000");
    QTest::keyClicks(start, "5");
    QTest::keyClick(start, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(start->text(), "00:00:01.000");
    EXPECT_EQ(m_dlg->Spans().size(), spans);
}

TEST_F(TimelineZoomTest, AnotherFileTakesTheSpansMarkedOnlyWhenTheUserAgrees)
{
    Load(Media("h264_aac.mp4"), 5);
    // No spans: no question.
    Add({Media("h264_aac.mp4")});
    EXPECT_TRUE(m_questions.isEmpty());
    Mark(1000, 3000);
    ASSERT_TRUE(m_dlg->OnAddSpan());

    m_yes = false;
    Add({Media("mpeg4_mp3.avi")});
    ASSERT_EQ(m_questions.size(), 1);
    EXPECT_EQ(m_questions[0], LanguageText("TISHI", "fqpd"));
    EXPECT_EQ(m_dlg->CutFile(), Media("h264_aac.mp4"));
    EXPECT_EQ(m_dlg->Spans().size(), 1u);
    EXPECT_TRUE(m_dlg->CanUndo());
    m_dlg->MoveToMs(4000);
    EXPECT_EQ(Text(1184), "00:00:04.000 / 00:00:10.000") << "the timeline still shows the first file";

    m_yes = true;
    Add({Media("mpeg4_mp3.avi")});
    EXPECT_EQ(m_questions.size(), 2);
    EXPECT_EQ(m_dlg->CutFile(), Media("mpeg4_mp3.avi"));
    EXPECT_TRUE(m_dlg->Spans().empty());
    EXPECT_FALSE(m_dlg->CanUndo()) << "the history belongs to the file";
}
