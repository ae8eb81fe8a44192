// SPDX-License-Identifier: GPL-3.0-or-later
// Convert and Merge through the real window and dialogs: the settings
// dialog is answered from inside its modal loop, the progress dialog is
// watched while the worker runs, and the output is decoded afterwards.
#include "app_test_support.h"

#include "av_convert_dlg.h"
#include "check_list_ctrl.h"
#include "conversion_job.h"
#include "file_infomation_dlg.h"
#include "media_checks.h"
#include "settings_dlg.h"
#include "settings_file.h"

#include <QCheckBox>
#include <QComboBox>
#include <QRegularExpression>
#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "worker.h"

namespace {

// Holds the worker at its first progress between 1 and 99 % until the
// window has shown that value, so the test sees the job run on any machine.
class ProgressGate {
public:
    // Holds the worker at its first progress between `from` and 99 % (of
    // input `input` only, when one is given) until Open(), so a poll sees the
    // job halfway however fast the machine is.
    static void Install(int input = -1, int from = 1)
    {
        {
            std::lock_guard<std::mutex> lock(s_mutex);
            s_open = false;
            s_input = input;
            s_from = from;
        }
        SetProgressObserver(&ProgressGate::Hold);
    }
    static void Remove()
    {
        Open();
        SetProgressObserver(nullptr);
    }
    static void Open()
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        s_open = true;
        s_changed.notify_all();
    }

private:
    static void Hold(const ConversionJob* job)
    {
        const int percent = job->progress_percent;
        if (percent < s_from || percent > 99 || (s_input >= 0 && job->current_input != s_input))
            return;
        std::unique_lock<std::mutex> lock(s_mutex);
        // The bound only keeps a broken window from hanging the suite.
        s_changed.wait_for(lock, std::chrono::seconds(60), [] { return s_open; });
        s_open = true;
    }
    static inline std::mutex s_mutex;
    static inline std::condition_variable s_changed;
    static inline bool s_open = false;
    static inline int s_input = -1;
    static inline int s_from = 1;
};

struct ProgressSample {
    QString current;  // 1018
    QString total;    // 1019
    int currentBar;   // 1011
    int totalBar;     // 1012
};

class LaunchTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(m_out.isValid());
        i18n::WriteSetting("PATH", "name", m_out.path());
    }

    // Runs `action` on the settings dialog of type T once it is open modally.
    template <class T>
    void WhenOpen(std::function<void(T*)> action)
    {
        auto* poll = new QTimer(m_dlg.get());
        poll->setInterval(10);
        QObject::connect(poll, &QTimer::timeout, [this, poll, action] {
            for (T* dialog : m_dlg->findChildren<T*>()) {
                if (dialog->isVisible()) {
                    poll->stop();
                    poll->deleteLater();
                    ++m_settingsShown;
                    action(dialog);
                    return;
                }
            }
        });
        poll->start();
    }

    // Samples the progress dialog every 50 ms while it is open; `onSample`
    // may act on it (press stop, close the window).
    void WatchProgress(std::function<void(const ProgressSample&)> onSample = nullptr)
    {
        auto* watch = new QTimer(m_dlg.get());
        watch->setInterval(50);
        QObject::connect(watch, &QTimer::timeout, [this, onSample] {
            CAVConvertDlg* progress = m_dlg->ProgressDialog();
            if (!progress || !progress->isVisible())
                return;
            const auto text = [progress](int id) {
                return progress->findChild<QLabel*>(QString::number(id))->text();
            };
            const auto bar = [progress](int id) {
                return progress->findChild<QProgressBar*>(QString::number(id))->value();
            };
            m_samples.push_back({text(1018), text(1019), bar(1011), bar(1012)});
            if (onSample)
                onSample(m_samples.back());
        });
        watch->start();
    }

    static void Pick(QWidget* dialog, int radio, int format, const QString& title)
    {
        dialog->findChild<QRadioButton*>(QString::number(radio))->click();
        if (format >= 0)
            dialog->findChild<QComboBox*>("1105")->setCurrentIndex(format);
        if (!title.isNull())
            dialog->findChild<QLineEdit*>("1075")->setText(title);
    }
    static void Start(QWidget* dialog, int id) { dialog->findChild<QPushButton*>(QString::number(id))->click(); }

    void Convert() { static_cast<QPushButton*>(Control(1004))->click(); }
    void Merge() { static_cast<QPushButton*>(Control(1099))->click(); }
    void JoinTab() { m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab); }
    QString Status(int row) const { return m_dlg->FileList()->topLevelItem(row)->text(5); }
    // Every row's status text and tick, as "Done-" / "Failed+".
    QStringList Rows() const
    {
        QStringList rows;
        for (int row = 0; row < m_dlg->FileList()->topLevelItemCount(); ++row)
            rows << Status(row) + (Checked(row) ? "+" : "-");
        return rows;
    }
    // The rows as they were when the first message was shown.
    void RecordRowsAtMessage()
    {
        m_onMessage = [this] {
            if (m_rowsAtMessage.isEmpty())
                m_rowsAtMessage = Rows();
        };
    }
    // A finished job's message: `key`'s text, then each new file by name.
    QString Made(const char* key, const QStringList& files) const
    {
        QString text = LanguageText("TISHI", key);
        for (const QString& file : files)
            text += "\n" + LanguageText("TISHI", "xwj").arg(file);
        return text;
    }
    // `line` of a stop message for an input stopped partway (1 to 99 %).
    QString CutShort(const QString& line) const { return LanguageText("TISHI", "bfjd").arg(line, "PERCENTMARK"); }
    static bool Matches(const QString& text, const QString& pattern)
    {
        const QString re = QRegularExpression::escape(pattern).replace("PERCENTMARK", "[1-9][0-9]?");
        const bool matched = QRegularExpression("^" + re + "$").match(text).hasMatch();
        EXPECT_TRUE(matched) << text.toStdString();
        return matched;
    }
    QString Done() const { return LanguageText("TISHI", "wc") + "-"; }
    QString Failed() const { return LanguageText("TISHI", "sb") + "+"; }
    QString Ready(bool ticked) const { return LanguageText("JIEMIAN", "zb") + (ticked ? "+" : "-"); }
    bool Checked(int row) const { return m_dlg->FileList()->IsRowChecked(row); }
    QString Out(const QString& name) const { return m_out.path() + "/" + name; }
    // A copy of a fixture under another name.
    QString Copy(const char* fixture, const QString& name)
    {
        const QString path = m_inputs.path() + "/" + name;
        EXPECT_TRUE(QFile::copy(Media(fixture), path));
        return path;
    }

    QTemporaryDir m_out;
    QTemporaryDir m_inputs;
    QStringList m_rowsAtMessage;
    std::vector<ProgressSample> m_samples;
    int m_settingsShown = 0;
};

TEST_F(LaunchTest, AnIndirectCutOfTheMarkedSpanReportsItsProgressAndItsSuccess)
{
    Add({Media("long_h264_aac.mp4")});
    DragTo(100);  // 3 s
    m_dlg->OnStartPoint();
    DragTo(500);  // 15 s
    m_dlg->OnEndPoint();
    ASSERT_EQ(Text(1023), "00:00:03.000");
    ASSERT_EQ(Text(1024), "00:00:15.000");

    WhenOpen<CFileInfomation>([](CFileInfomation* dlg) {
        EXPECT_EQ(dlg->findChild<QLineEdit*>("1075")->text(), "long_h264_aac");
        Pick(dlg, 1007, 0, "clip");
        Start(dlg, 1194);
    });
    ProgressGate::Install();
    WatchProgress([](const ProgressSample& s) {
        if (s.currentBar > 0 && s.currentBar < 100)
            ProgressGate::Open();
    });
    Convert();
    ProgressGate::Remove();

    ASSERT_EQ(m_settingsShown, 1);
    EXPECT_EQ(m_messages, QStringList({Made("jqcg", {"clip.mp4"})}));
    EXPECT_EQ(m_opened, QStringList({m_out.path()}));
    EXPECT_FALSE(m_dlg->ProgressDialog()->isVisible());

    // The progress lines and bars followed the worker.
    ASSERT_GE(m_samples.size(), 3u);
    int lastBar = 0;
    bool sawProgress = false;
    for (const ProgressSample& s : m_samples) {
        if (s.total == "...")
            continue;  // before the first tick
        EXPECT_EQ(s.total, "0 of 1 " + LanguageText("TISHI", "wj1"));
        EXPECT_EQ(s.totalBar, 0);
        EXPECT_GE(s.currentBar, lastBar);
        lastBar = s.currentBar;
        EXPECT_TRUE(s.current.startsWith(Media("long_h264_aac.mp4") + "   ")) << s.current.toStdString();
        EXPECT_TRUE(s.current.endsWith(QString::number(s.currentBar) + "% done")) << s.current.toStdString();
        sawProgress = sawProgress || (s.currentBar > 0 && s.currentBar < 100);
    }
    EXPECT_TRUE(sawProgress);

    const MediaFacts facts = AnalyzeMedia(Out("clip.mp4").toStdString());
    ASSERT_TRUE(facts.opened);
    EXPECT_EQ(facts.video_codec, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(facts.audio_codec, AV_CODEC_ID_AAC);
    EXPECT_EQ(facts.decode_errors, 0);
    EXPECT_NEAR(facts.VideoSeconds(), 12.0, 0.25);
    EXPECT_NEAR(facts.audio_end_s - facts.audio_start_s, 12.0, 0.25);
}

TEST_F(LaunchTest, ACutThatHoldsNothingIsRefusedBeforeTheSettings)
{
    Add({Media("h264_aac.mp4")});
    WhenOpen<CFileInfomation>([](CFileInfomation* dlg) { dlg->reject(); });
    const char* spans[][2] = {{"00:00:04.000", "00:00:04.000"}, {"00:00:05.000", "00:00:01.000"},
                              {"00:00:10.000", "00:00:12.000"}};
    for (const auto& span : spans) {
        static_cast<QLineEdit*>(Control(1023))->setText(span[0]);
        static_cast<QLineEdit*>(Control(1024))->setText(span[1]);
        Convert();
    }
    EXPECT_EQ(m_settingsShown, 0);
    EXPECT_EQ(m_messages, QStringList(3, LanguageText("TISHI", "sjdwx")));
    EXPECT_TRUE(QDir(m_out.path()).isEmpty());
}

TEST_F(LaunchTest, AFullDiskIsNamedAndLeavesNoFile)
{
    const SmallDisk disk("launch-full-disk", 128);
    if (disk.path().empty())
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    i18n::WriteSetting("PATH", "name", QString::fromStdString(disk.path()));
    Add({Media("h264_aac.mp4")});
    WhenOpen<CFileInfomation>([](CFileInfomation* dlg) { Start(dlg, 1194); });
    Convert();
    EXPECT_EQ(m_messages, QStringList({LanguageText("TISHI", "cpym")}));
    EXPECT_TRUE(m_opened.isEmpty());
    EXPECT_TRUE(QDir(QString::fromStdString(disk.path())).isEmpty());
}

TEST_F(LaunchTest, DirectCutsOfMovieAviCountUpTheirNames)
{
    Add({Copy("mpeg4_mp3.avi", "movie.avi")});
    for (const char* expected : {"movie.avi", "movie(0).avi", "movie(1).avi"}) {
        WhenOpen<CFileInfomation>([](CFileInfomation* dlg) { Start(dlg, 1194); });
        Convert();
        EXPECT_TRUE(QFile::exists(Out(expected))) << expected;
    }
    EXPECT_EQ(m_settingsShown, 3);
    EXPECT_EQ(m_messages, QStringList({Made("jqcg", {"movie.avi"}), Made("jqcg", {"movie(0).avi"}),
                                       Made("jqcg", {"movie(1).avi"})}));
    const MediaFacts facts = AnalyzeMedia(Out("movie(1).avi").toStdString());
    ASSERT_TRUE(facts.opened);
    EXPECT_EQ(facts.video_codec, AV_CODEC_ID_MPEG4);
    EXPECT_NEAR(facts.VideoSeconds(), 6.0, 0.3);
}

TEST_F(LaunchTest, ConvertAndMergeRefuseWithoutFiles)
{
    WhenOpen<CFileInfomation>([](CFileInfomation* dlg) { dlg->reject(); });
    Convert();
    JoinTab();
    Merge();
    EXPECT_EQ(m_settingsShown, 0);
    EXPECT_EQ(m_messages, QStringList({LanguageText("TISHI", "qxtjsp"), LanguageText("TISHI", "qxtjsp")}));

    Add({Media("h264_aac.mp4"), Media("h264_aac_b.mp4")});
    m_dlg->FileList()->SetRowChecked(1, false);
    Merge();
    EXPECT_EQ(m_settingsShown, 0);
    EXPECT_EQ(m_messages.last(), LanguageText("TISHI", "zslgwj"));
}

TEST_F(LaunchTest, ACancelledSettingsDialogStartsNothing)
{
    Add({Media("h264_aac.mp4")});
    WhenOpen<CFileInfomation>([](CFileInfomation* dlg) { QTest::keyClick(dlg, Qt::Key_Escape); });
    WatchProgress();
    Convert();
    EXPECT_EQ(m_settingsShown, 1);
    EXPECT_TRUE(m_samples.empty());
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_TRUE(QDir(m_out.path()).isEmpty());
}

TEST_F(LaunchTest, AFileNameWithoutExtensionIsRefusedForADirectCutButReencodes)
{
    Add({Copy("h264_aac.mp4", "movie")});
    WhenOpen<CFileInfomation>([](CFileInfomation* dlg) {
        EXPECT_EQ(dlg->findChild<QLineEdit*>("1075")->text(), "movie");
        Start(dlg, 1194);
    });
    WatchProgress();
    Convert();
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_EQ(m_messages[0], LanguageText("TISHI", "zjjqwkzm"));
    EXPECT_TRUE(m_samples.empty());
    EXPECT_TRUE(QDir(m_out.path()).isEmpty());

    WhenOpen<CFileInfomation>([](CFileInfomation* dlg) {
        Pick(dlg, 1007, 2, QString());
        Start(dlg, 1194);
    });
    Convert();
    EXPECT_EQ(m_messages.last(), Made("jqcg", {"movie.avi"}));
    EXPECT_TRUE(AnalyzeMedia(Out("movie.avi").toStdString()).opened);
}

// The launch decides: a file no exact cut can take is cut at key pictures,
// and the window says so before the job runs.
TEST_F(LaunchTest, AnExactCutOfAnotherCodecSaysItCutsAtKeyPictures)
{
    Add({Media("flv1.flv")});
    WhenOpen<CFileInfomation>([](CFileInfomation* dlg) {
        dlg->findChild<QCheckBox*>()->setChecked(true);
        Start(dlg, 1194);
    });
    Convert();
    EXPECT_EQ(m_messages, QStringList({LanguageText("TISHI", "jqjqbz"), Made("jqcg", {"flv1.flv"})}));
}

TEST_F(LaunchTest, ADirectJoinOfTwoFilesOfOneKindMarksBothDone)
{
    JoinTab();
    Add({Media("h264_aac.mp4"), Media("h264_640.mp4"), Media("h264_aac_b.mp4")});
    m_dlg->FileList()->SetRowChecked(1, false);  // only neighbouring checked rows are compared
    WhenOpen<CSettings>([](CSettings* dlg) { Start(dlg, 1); });
    Merge();

    EXPECT_EQ(m_messages, QStringList({Made("hbcg", {"joined.mp4"})}));
    EXPECT_EQ(m_opened, QStringList({m_out.path()}));
    EXPECT_EQ(Status(0), LanguageText("TISHI", "wc"));
    EXPECT_EQ(Status(1), LanguageText("JIEMIAN", "zb"));
    EXPECT_EQ(Status(2), LanguageText("TISHI", "wc"));
    EXPECT_FALSE(Checked(0));
    EXPECT_FALSE(Checked(1));
    EXPECT_FALSE(Checked(2));
    const MediaFacts facts = AnalyzeMedia(Out(LanguageText("JIEMIAN", "hbhwj") + ".mp4").toStdString());
    ASSERT_TRUE(facts.opened);
    EXPECT_EQ(facts.video_codec, AV_CODEC_ID_H264);
    EXPECT_NEAR(facts.VideoSeconds(), 14.0, 0.3);
}

TEST_F(LaunchTest, ADirectJoinOfDifferentKindsIsRefusedAfterTheSettingsButReencodes)
{
    JoinTab();
    Add({Media("h264_aac.mp4"), Media("h264_640.mp4")});
    WhenOpen<CSettings>([](CSettings* dlg) { Start(dlg, 1); });
    WatchProgress();
    Merge();
    EXPECT_EQ(m_settingsShown, 1);
    // The file that differs is named, with how.
    EXPECT_EQ(m_messages, QStringList({LanguageText("TISHI", "cfbt").arg(
                              "h264_640.mp4", LanguageText("TISHI", "bt7").arg("640×480", "320×240"))}));
    EXPECT_TRUE(m_samples.empty());
    EXPECT_TRUE(QDir(m_out.path()).isEmpty());

    WhenOpen<CSettings>([](CSettings* dlg) {
        Pick(dlg, 1007, 2, "mixed");
        Start(dlg, 1);
    });
    Merge();
    EXPECT_EQ(m_messages.last(), Made("hbcg", {"mixed.avi"}));
    const MediaFacts facts = AnalyzeMedia(Out("mixed.avi").toStdString());
    ASSERT_TRUE(facts.opened);
    EXPECT_EQ(facts.width, 320);
    EXPECT_NEAR(facts.VideoSeconds(), 13.0, 0.4);
}

TEST_F(LaunchTest, TracksACutLeavesOutAreNamedInItsSuccessMessage)
{
    Add({Media("timecode.mp4")});  // MP4 takes no copied timecode track
    WhenOpen<CFileInfomation>([](CFileInfomation* dlg) { Start(dlg, 1194); });
    Convert();
    EXPECT_EQ(m_messages, QStringList({Made("jqcg", {"timecode.mp4"}) + "\n" + LanguageText("TISHI", "ylgd") + " " +
                                       LanguageText("TISHI", "gdsj") + " 2 (tmcd, eng)"}));
}

TEST_F(LaunchTest, ADirectJoinOfFilesWithOtherTracksNamesTheFirstSuchFile)
{
    JoinTab();
    Add({Media("tracks.mkv"), Media("tracks_fewer.mkv")});
    WhenOpen<CSettings>([](CSettings* dlg) { Start(dlg, 1); });
    Merge();
    const QString how = LanguageText("TISHI", "gdzm") + " 1 / 2";
    EXPECT_EQ(m_messages, QStringList({LanguageText("TISHI", "gdbt")
                                           .replace("%1", "tracks_fewer.mkv")
                                           .replace("%2", how)}));
    EXPECT_TRUE(QDir(m_out.path()).isEmpty());
}

TEST_F(LaunchTest, ADirectJoinOfFilesThatLookAlikeButDifferNamesTheFileAndHow)
{
    // Same extension and picture size, but another video codec.
    const QString mpeg4 = m_inputs.path() + "/mpeg4.mp4";
    const std::string make = "ffmpeg -hide_banner -loglevel error -nostdin -y -i '" +
                             Media("h264_aac.mp4").toStdString() + "' -c:v mpeg4 -c:a copy '" +
                             mpeg4.toStdString() + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    JoinTab();
    Add({Media("h264_aac.mp4"), mpeg4});
    WhenOpen<CSettings>([](CSettings* dlg) { Start(dlg, 1); });
    WatchProgress();
    Merge();
    EXPECT_EQ(m_messages, QStringList({LanguageText("TISHI", "cfbt").arg("mpeg4.mp4", LanguageText("TISHI", "bt1"))}));
    EXPECT_TRUE(m_samples.empty()) << "refused before the job";
    EXPECT_TRUE(QDir(m_out.path()).isEmpty());
    EXPECT_EQ(Rows(), QStringList({Ready(true), Ready(true)}));
}

TEST_F(LaunchTest, AJoinWhoseSecondFileFailsReportsTheFailureAndOpensTheHelp)
{
    JoinTab();
    const QString second = Copy("h264_aac_b.mp4", "second.mp4");
    Add({Media("h264_aac.mp4"), second, Media("long_h264_aac.mp4")});
    ASSERT_TRUE(QFile::remove(second));  // gone by the time the worker reaches it

    WhenOpen<CSettings>([](CSettings* dlg) {
        Pick(dlg, 1007, 0, "three");
        Start(dlg, 1);
    });
    RecordRowsAtMessage();
    // The worker waits in the third file until a poll has shown it there.
    bool sawThird = false;
    ProgressGate::Install(2);
    WatchProgress([&](const ProgressSample& s) {
        sawThird = sawThird || s.current.startsWith(Media("long_h264_aac.mp4"));
        if (sawThird) {
            // While the third runs the first is done and the second failed.
            EXPECT_EQ(Status(1), LanguageText("TISHI", "sb"));
            if (s.currentBar > 0 && s.currentBar < 100)
                ProgressGate::Open();
        }
    });
    Merge();
    ProgressGate::Remove();

    ASSERT_TRUE(sawThird) << "no poll while the third file ran";
    // Which file failed and why, then where to read more.
    // The file it made is named with what it holds.
    EXPECT_EQ(m_messages, QStringList({LanguageText("TISHI", "srsb").arg(2).arg("second.mp4", LanguageText("TISHI", "yy1")) +
                                       "\n" + LanguageText("TISHI", "tzbl").arg(Out("three.mp4")) +
                                       "\n  h264_aac.mp4\n  long_h264_aac.mp4\n\n" + LanguageText("TISHI", "hbsb")}));
    // Every row of the job has its final status before the message: the
    // failed one stays ticked, to be tried again.
    EXPECT_EQ(m_rowsAtMessage, QStringList({Done(), Failed(), Done()}));
    // The help page of the language, shipped beside the executable.
    EXPECT_EQ(m_opened, QStringList({m_folder.path() + "/" + LanguageText("APPLICATION", "url")}));
    EXPECT_EQ(Status(0), LanguageText("TISHI", "wc"));
    EXPECT_FALSE(Checked(0));
    EXPECT_EQ(Rows(), QStringList({Done(), Failed(), Done()}));
    // While the third runs, the count and the bar follow the two rows that
    // have their result; never "0 of 3" once a row has one.
    bool sawCount = false;
    for (const ProgressSample& s : m_samples) {
        if (s.current.startsWith(Media("long_h264_aac.mp4"))) {
            EXPECT_EQ(s.total, "2 of 3 " + LanguageText("TISHI", "wj1"));
            EXPECT_EQ(s.totalBar, 66);
            sawCount = true;
        }
    }
    EXPECT_TRUE(sawCount);
}

TEST_F(LaunchTest, StopDuringACutSaysSoAndWhatTheFinishedFileHolds)
{
    Add({Media("long_h264_aac.mp4")});
    WhenOpen<CFileInfomation>([](CFileInfomation* dlg) {
        Pick(dlg, 1007, 0, "stopped");
        Start(dlg, 1194);
    });
    ProgressGate::Install(-1, 10);
    WatchProgress([this](const ProgressSample& s) {
        if (s.currentBar >= 10) {
            ProgressGate::Open();
            m_dlg->ProgressDialog()->findChild<QPushButton*>("1000")->click();
        }
    });
    Convert();
    ProgressGate::Remove();
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(Matches(m_messages[0], LanguageText("TISHI", "tzjq") + "\n" +
                                           LanguageText("TISHI", "tzbl").arg(Out("stopped.mp4")) + "\n  " +
                                           CutShort("long_h264_aac.mp4")));
    EXPECT_TRUE(m_opened.isEmpty());
    ASSERT_FALSE(m_samples.empty());
    EXPECT_LT(m_samples.back().currentBar, 100);
    const MediaFacts facts = AnalyzeMedia(Out("stopped.mp4").toStdString());
    ASSERT_TRUE(facts.opened);
    EXPECT_EQ(facts.decode_errors, 0);
    EXPECT_GT(facts.VideoSeconds(), 2.0);
    EXPECT_LT(facts.VideoSeconds(), 29.0);
}

TEST_F(LaunchTest, AStoppedJoinSaysWhatItKeptAndTheNextJoinStartsItsRowsAfresh)
{
    JoinTab();
    Add({Media("h264_aac.mp4"), Media("long_h264_aac.mp4"), Media("h264_aac_b.mp4")});
    const auto reencode = [](const QString& title) {
        return [title](CSettings* dlg) {
            Pick(dlg, 1007, 0, title);
            Start(dlg, 1);
        };
    };
    WhenOpen<CSettings>(reencode("stopped"));
    ProgressGate::Install(1, 10);
    bool stopPressed = false;  // once: this watch goes on sampling the next job
    WatchProgress([&](const ProgressSample& s) {
        if (!stopPressed && s.current.startsWith(Media("long_h264_aac.mp4")) && s.currentBar >= 10) {
            stopPressed = true;
            ProgressGate::Open();
            m_dlg->ProgressDialog()->findChild<QPushButton*>("1000")->click();
        }
    });
    Merge();
    ProgressGate::Remove();
    // The first file is in the kept file whole, the second up to the stop.
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(Matches(m_messages[0], LanguageText("TISHI", "tzjq") + "\n" +
                                           LanguageText("TISHI", "tzbl").arg(Out("stopped.mp4")) +
                                           "\n  h264_aac.mp4\n  " + CutShort("long_h264_aac.mp4")));
    EXPECT_TRUE(m_opened.isEmpty());
    EXPECT_EQ(Rows(), QStringList({Done(), Ready(true), Ready(true)}));
    EXPECT_TRUE(AnalyzeMedia(Out("stopped.mp4").toStdString()).opened);

    // All three again: at the launch the rows hold nothing of the stopped job.
    m_dlg->FileList()->SetRowChecked(0, true);
    m_samples.clear();
    m_messages.clear();
    RecordRowsAtMessage();
    QStringList rowsAtStart;
    WhenOpen<CSettings>(reencode("whole"));
    ProgressGate::Install(0, 1);
    WatchProgress([&](const ProgressSample& s) {
        if (rowsAtStart.isEmpty() && s.current.startsWith(Media("h264_aac.mp4")) && s.currentBar > 0) {
            rowsAtStart = Rows();
            ProgressGate::Open();
        }
    });
    Merge();
    ProgressGate::Remove();
    EXPECT_EQ(rowsAtStart, QStringList({Ready(true), Ready(true), Ready(true)}));
    EXPECT_EQ(m_messages, QStringList({Made("hbcg", {"whole.mp4"})}));
    EXPECT_EQ(m_rowsAtMessage, QStringList({Done(), Done(), Done()}));
    EXPECT_EQ(m_opened, QStringList({m_out.path()}));
    // Any poll while the third ran counted the two rows before it.
    for (const ProgressSample& s : m_samples) {
        if (s.current.startsWith(Media("h264_aac_b.mp4"))) {
            EXPECT_EQ(s.total, "2 of 3 " + LanguageText("TISHI", "wj1"));
        }
    }
}

TEST_F(LaunchTest, ClosingTheWindowDuringAJobStopsItBeforeTheRecordIsFreed)
{
    Add({Media("long_h264_aac.mp4")});
    WhenOpen<CFileInfomation>([](CFileInfomation* dlg) {
        Pick(dlg, 1007, 0, "closed");
        Start(dlg, 1194);
    });
    ProgressGate::Install(-1, 5);
    WatchProgress([this](const ProgressSample& s) {
        if (s.currentBar >= 5) {
            ProgressGate::Open();  // the close waits for the worker
            m_dlg->close();
        }
    });
    m_dlg->show();
    Convert();
    ProgressGate::Remove();
    EXPECT_EQ(g_pJob, nullptr);
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_TRUE(m_messages.isEmpty());
    const MediaFacts facts = AnalyzeMedia(Out("closed.mp4").toStdString());
    EXPECT_TRUE(facts.opened);
    EXPECT_EQ(facts.decode_errors, 0);
}

TEST_F(LaunchTest, ClosingTheWindowUnderTheSettingsDialogClosesOnceItIsAnsweredAndStartsNothing)
{
    Add({Media("h264_aac.mp4")});
    m_dlg->show();
    WhenOpen<CFileInfomation>([this](CFileInfomation* dlg) {
        m_dlg->close();
        EXPECT_NE(g_pJob, nullptr);  // still in use by the launch
        Start(dlg, 1194);
    });
    WatchProgress();
    Convert();
    EXPECT_EQ(m_settingsShown, 1);
    EXPECT_TRUE(m_samples.empty());
    EXPECT_EQ(g_pJob, nullptr);
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_TRUE(QDir(m_out.path()).isEmpty());
}

TEST_F(LaunchTest, MoreThan999TickedFilesAreRefusedBeforeTheSettings)
{
    JoinTab();
    Add({Media("h264_aac.mp4")});
    const QTreeWidgetItem* first = m_dlg->FileList()->topLevelItem(0);
    QStringList texts;
    for (int c = 0; c < 6; ++c)
        texts << first->text(c);
    for (int i = 0; i < 999; ++i)
        m_dlg->FileList()->AddRow(texts, true);
    WhenOpen<CSettings>([](CSettings* dlg) { dlg->reject(); });
    Merge();
    EXPECT_EQ(m_settingsShown, 0);
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages[0].contains("999"));

    m_dlg->FileList()->SetRowChecked(999, false);
    Merge();
    EXPECT_EQ(m_settingsShown, 1);
}

}  // namespace

class SpansLaunchTest : public LaunchTest {
protected:
    // Three spans of the 30 s file, added through the window.
    void AddThreeSpans()
    {
        Add({Media("long_h264_aac.mp4")});
        for (const auto& [from, to] : {std::pair{2000, 6000}, std::pair{10000, 14000}, std::pair{20000, 24000}}) {
            m_dlg->MoveToMs(from);
            m_dlg->OnStartPoint();
            m_dlg->MoveToMs(to);
            m_dlg->OnEndPoint();
            ASSERT_TRUE(m_dlg->OnAddSpan());
        }
    }
    // Answers the cut settings: direct, exact or not, one file (0) or a file per span (1).
    void Answer(bool exact, int files, const QString& title)
    {
        WhenOpen<CFileInfomation>([=](CFileInfomation* dlg) {
            auto* choice = dlg->findChild<QComboBox*>("1200");
            EXPECT_TRUE(choice->isVisible());
            EXPECT_EQ(choice->itemText(1), LanguageText("JIEMIAN", "mdyg"));
            choice->setCurrentIndex(files);
            Pick(dlg, 1189, -1, title);
            dlg->findChild<QCheckBox*>()->setChecked(exact);
            Start(dlg, 1194);
        });
    }
};

TEST_F(SpansLaunchTest, ThreeSpansGoIntoOneFileWithTheProgressCountingSpans)
{
    AddThreeSpans();
    Answer(false, 0, "three");
    ProgressGate::Install(1);  // held in span 2 until the window has shown it
    WatchProgress([](const ProgressSample& s) {
        if (s.current.contains("Span 2 of 3"))
            ProgressGate::Open();
    });
    Convert();
    ProgressGate::Remove();
    EXPECT_EQ(m_messages, QStringList({Made("jqcg", {"three.mp4"})}));
    EXPECT_EQ(i18n::ReadSetting("CUT", "separate"), "0");
    const QStringList kept = QDir(m_out.path()).entryList(QDir::Files);
    EXPECT_EQ(kept, QStringList({"three.mp4"}));
    const MediaFacts facts = AnalyzeMedia(Out("three.mp4").toStdString());
    ASSERT_TRUE(facts.opened);
    EXPECT_EQ(facts.decode_errors, 0);
    // Each span from the key picture at or before its start: 12 s at least.
    EXPECT_GE(facts.VideoSeconds(), 11.9);
    EXPECT_LT(facts.VideoSeconds(), 18.5);
    // The current line names the span, the total counts spans.
    bool sawSpan = false;
    for (const ProgressSample& s : m_samples) {
        if (s.total == "...")
            continue;
        EXPECT_TRUE(s.total.endsWith(" of 3 span(s)")) << s.total.toStdString();
        sawSpan = sawSpan || s.current.contains(QRegularExpression("Span [123] of 3"));
        // One reading: a span that is not done yet is never shown whole
        // beside a total that does not count it, nor the other way round.
        const int finished = s.total.section(' ', 0, 0).toInt();
        const int span = QRegularExpression("Span ([123]) of 3").match(s.current).captured(1).toInt();
        if (span > 0 && finished < 3) {  // at the end the line keeps the last span
            EXPECT_EQ(finished, span - 1) << s.current.toStdString() << " / " << s.total.toStdString();
        }
    }
    EXPECT_TRUE(sawSpan);
    // Its captions speak of spans.
    EXPECT_EQ(m_dlg->ProgressDialog()->findChild<QLabel*>("1159")->text(), LanguageText("JIEMIAN", "zgpd"));
    EXPECT_EQ(m_dlg->ProgressDialog()->findChild<QLabel*>("1158")->text(), LanguageText("JIEMIAN", "dqpd"));
}

TEST_F(SpansLaunchTest, ThreeExactSpansGoIntoOneFileOrEachIntoItsOwn)
{
    AddThreeSpans();
    Answer(true, 0, "exact");
    Convert();
    EXPECT_EQ(m_messages, QStringList({Made("jqcg", {"exact.mp4"})}));
    EXPECT_EQ(i18n::ReadSetting("CUT", "separate"), "0");
    ASSERT_EQ(QDir(m_out.path()).entryList(QDir::Files), QStringList({"exact.mp4"}));
    const MediaFacts one = AnalyzeMedia(Out("exact.mp4").toStdString());
    EXPECT_EQ(one.decode_errors, 0);
    EXPECT_NEAR(one.VideoSeconds(), 12.0, 0.1);
    QFile::remove(Out("exact.mp4"));

    m_messages.clear();
    Answer(true, 1, "exact");
    Convert();
    EXPECT_EQ(m_messages, QStringList({Made("jqcg", {"exact-1.mp4", "exact-2.mp4", "exact-3.mp4"})}));
    EXPECT_EQ(i18n::ReadSetting("CUT", "separate"), "1");
    EXPECT_EQ(QDir(m_out.path()).entryList(QDir::Files), QStringList({"exact-1.mp4", "exact-2.mp4", "exact-3.mp4"}));
    for (const QString& name : QDir(m_out.path()).entryList(QDir::Files)) {
        const MediaFacts facts = AnalyzeMedia(Out(name).toStdString());
        ASSERT_TRUE(facts.opened) << name.toStdString();
        EXPECT_EQ(facts.decode_errors, 0);
        EXPECT_NEAR(facts.VideoSeconds(), 4.0, 0.1) << name.toStdString();
    }
}

TEST_F(SpansLaunchTest, AStopInTheSecondSpanKeepsTheFileWithTheSpansItReached)
{
    AddThreeSpans();
    WhenOpen<CFileInfomation>([](CFileInfomation* dlg) {
        dlg->findChild<QComboBox*>("1200")->setCurrentIndex(0);
        Pick(dlg, 1007, 0, "stopped");
        dlg->findChild<QPushButton*>("1194")->click();
    });
    ProgressGate::Install(1, 10);
    WatchProgress([this](const ProgressSample& s) {
        if (s.current.contains("Span 2 of 3") && s.currentBar >= 10) {
            ProgressGate::Open();
            m_dlg->ProgressDialog()->findChild<QPushButton*>("1000")->click();
        }
    });
    Convert();
    ProgressGate::Remove();
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(Matches(m_messages[0], LanguageText("TISHI", "tzjq") + "\n" +
                                           LanguageText("TISHI", "tzbl").arg(Out("stopped.mp4")) + "\n  Span 1\n  " +
                                           CutShort("Span 2")));
    const MediaFacts facts = AnalyzeMedia(Out("stopped.mp4").toStdString());
    ASSERT_TRUE(facts.opened);
    EXPECT_EQ(facts.decode_errors, 0);
    EXPECT_GT(facts.VideoSeconds(), 4.0);
    EXPECT_LT(facts.VideoSeconds(), 8.0);
}
