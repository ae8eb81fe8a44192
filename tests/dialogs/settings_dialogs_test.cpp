// SPDX-License-Identifier: GPL-3.0-or-later
// The cut and join settings dialogs as a user meets them: what they offer at
// opening, what a start press records, and what they refuse.
#include "file_infomation_dlg.h"
#include "job_choices.h"
#include "language_file.h"
#include "output_folder.h"
#include "seams.h"
#include "settings_dlg.h"
#include "settings_file.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <gtest/gtest.h>

#include <deque>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace {

struct ShownMessage {
    QString text;
    QString caption;
    QWidget* owner;
};

class SettingsDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_program.isValid());
        ASSERT_TRUE(m_output.isValid());
        QDir(m_program.path()).mkpath(QStringLiteral("languages"));
        const QDir shipped(QStringLiteral(MORVANE_LANGUAGES_DIR));
        for (const QString& name : shipped.entryList({QStringLiteral("*.ini")}, QDir::Files))
            ASSERT_TRUE(QFile::copy(shipped.filePath(name), m_program.path() + "/languages/" + name));
        WriteSettings(m_output.path());

        platform::Seams& seams = platform::CurrentSeams();
        seams.appDirectory = [this] { return m_program.path(); };
        seams.messageBox = [this](const platform::MessageBoxRequest& r) {
            m_messages.push_back({r.text, r.caption, r.owner});
        };
        seams.browseForFolder = [this](QWidget*, const QString& title) {
            m_pickerTitles << title;
            m_pickerFolders << platform::BrowseFolder();
            if (m_picks.empty())
                return QString();
            const QString pick = m_picks.front();
            m_picks.pop_front();
            return pick;
        };
        CutChoice = EncodingChoice();
        JoinChoice = EncodingChoice();
    }

    void WriteSettings(const QString& outputFolder, bool withPath = true)
    {
        QFile file(m_program.path() + "/setting.ini");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QTextStream out(&file);
        out << "[LANGUAGE]\nfile=english.ini\n";
        if (withPath)
            out << "\n[PATH]\nname=" << outputFolder << "\n";
    }

    QString Text(const char* section, const char* key) const
    {
        return i18n::LanguageFile::ReadText(QStringLiteral("english.ini"), QString::fromLatin1(section),
                                            QString::fromLatin1(key));
    }

    template <class T = QWidget>
    static T* Find(QWidget* dialog, int id)
    {
        return dialog->findChild<T*>(QString::number(id), Qt::FindDirectChildrenOnly);
    }
    static QComboBox* List(QWidget* dialog, int id) { return Find<QComboBox>(dialog, id); }
    static QStringList Entries(QComboBox* list)
    {
        QStringList entries;
        for (int i = 0; i < list->count(); ++i)
            entries << list->itemText(i);
        return entries;
    }
    QStringList MessageTexts() const
    {
        QStringList texts;
        for (const ShownMessage& m : m_messages)
            texts << m.text;
        return texts;
    }

    void Open(QDialog* dialog)
    {
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    }

    QTemporaryDir m_program;
    QTemporaryDir m_output;
    platform::ScopedSeams m_seams;
    std::vector<ShownMessage> m_messages;
    std::deque<QString> m_picks;
    QStringList m_pickerTitles;
    QStringList m_pickerFolders;  // where each picker opened
};

const QStringList kFormats = {
    "MP4 - (MPEG4 AAC) MPEG4 (*.mp4)", "MP4 - (H264 AAC) AVC(*.mp4)",   "AVI - Video Format (*.avi)",
    "FLV - Flash Video (*.flv)",       "WMV - Windos Media Video (*.wmv)", "MOV - QuickTime Video(*.mov)",
    "MKV - Matroska Video(*.mkv)"};
const QStringList kVideoQualities = {"1500 kbps", "2000 kbps", "2500 kbps",  "3000 kbps",  "4000 kbps", "5000 kbps",
                                     "6000 kbps", "8000 kbps", "12000 kbps", "16000 kbps", "20000 kbps"};
const QStringList kSizes = {"320*240", "640*480", "720*480", "720*576", "960*540", "1024*768", "1280*720", "1920*1080"};

// --- The cut settings -------------------------------------------------------

TEST_F(SettingsDialogTest, CutSettingsOpenDirectWithEveryListFilledAndLocked)
{
    CFileInfomation dlg;
    dlg.file_title = "holiday";
    dlg.OnInitDialog();

    EXPECT_EQ(dlg.windowTitle(), Text("APPLICATION", "name"));
    EXPECT_TRUE(Find<QRadioButton>(&dlg, 1189)->isChecked());
    EXPECT_FALSE(Find<QRadioButton>(&dlg, 1007)->isChecked());
    EXPECT_EQ(Find<QRadioButton>(&dlg, 1189)->text(), Text("JIEMIAN", "zjjq"));
    EXPECT_EQ(Find<QPushButton>(&dlg, 1194)->text(), Text("JIEMIAN", "ksjq1"));
    EXPECT_EQ(Find<QPushButton>(&dlg, 1076)->text(), Text("JIEMIAN", "ll"));
    EXPECT_TRUE(CutChoice.direct);

    EXPECT_EQ(Entries(List(&dlg, 1105)), kFormats);
    EXPECT_EQ(Entries(List(&dlg, 1190)), kVideoQualities);
    EXPECT_EQ(Entries(List(&dlg, 1191)), kSizes);
    EXPECT_EQ(Entries(List(&dlg, 1065)),
              QStringList({Text("JIEMIAN", "ywjyy"), "8.0 fps", "10.0 fps", "12.0 fps", "14.985 fps", "15.0 fps",
                           "23.975 fps", "24.0 fps", "25.0 fps", "29.97 fps", "30.0 fps", "50.0 fps", "60.0 fps"}));
    EXPECT_EQ(Entries(List(&dlg, 1192)), QStringList({"32 kbps", "64 kbps", "96 kbps", "128 kbps", "160 kbps",
                                                      "192 kbps", "256 kbps", "320 kbps"}));
    EXPECT_EQ(Entries(List(&dlg, 1197)), QStringList({"22050 Hz", "32000 Hz", "44100 Hz", "48000 Hz"}));

    EXPECT_EQ(List(&dlg, 1105)->currentIndex(), 0);
    EXPECT_EQ(List(&dlg, 1190)->currentText(), "3000 kbps");
    EXPECT_EQ(List(&dlg, 1191)->currentText(), "320*240");
    EXPECT_EQ(List(&dlg, 1065)->currentIndex(), 0);
    EXPECT_EQ(List(&dlg, 1192)->currentText(), "128 kbps");
    EXPECT_EQ(List(&dlg, 1197)->currentText(), "44100 Hz");
    for (int id : {1105, 1190, 1191, 1065, 1192, 1197})
        EXPECT_FALSE(List(&dlg, id)->isEnabled()) << id;

    EXPECT_EQ(Find<QLineEdit>(&dlg, 1003)->text(), m_output.path());
    EXPECT_TRUE(Find<QLineEdit>(&dlg, 1003)->isReadOnly());
    EXPECT_EQ(Find<QLineEdit>(&dlg, 1075)->text(), "holiday");
}

TEST_F(SettingsDialogTest, CutModeRadiosUnlockAndLockTheListsWithoutTouchingThem)
{
    CFileInfomation dlg;
    dlg.OnInitDialog();
    Open(&dlg);
    QTest::mouseClick(Find<QRadioButton>(&dlg, 1007), Qt::LeftButton);
    for (int id : {1105, 1190, 1191, 1065, 1192, 1197})
        EXPECT_TRUE(List(&dlg, id)->isEnabled()) << id;
    List(&dlg, 1191)->setCurrentIndex(6);
    QTest::mouseClick(Find<QRadioButton>(&dlg, 1189), Qt::LeftButton);
    for (int id : {1105, 1190, 1191, 1065, 1192, 1197})
        EXPECT_FALSE(List(&dlg, id)->isEnabled()) << id;
    EXPECT_EQ(List(&dlg, 1191)->currentText(), "1280*720");
}

TEST_F(SettingsDialogTest, CutStartRecordsTheDisabledListsAndTheFormatChosenBeforeGoingDirect)
{
    CFileInfomation dlg;
    dlg.file_title = "clip";
    dlg.OnInitDialog();
    Open(&dlg);
    QTest::mouseClick(Find<QRadioButton>(&dlg, 1007), Qt::LeftButton);
    List(&dlg, 1105)->setCurrentIndex(6);  // MKV
    List(&dlg, 1190)->setCurrentText("20000 kbps");
    List(&dlg, 1192)->setCurrentText("32 kbps");
    List(&dlg, 1191)->setCurrentText("1920*1080");
    List(&dlg, 1065)->setCurrentText("29.97 fps");
    List(&dlg, 1197)->setCurrentText("48000 Hz");
    QTest::mouseClick(Find<QRadioButton>(&dlg, 1189), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>(&dlg, 1194), Qt::LeftButton);

    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(m_messages.empty());
    EXPECT_TRUE(CutChoice.direct);
    EXPECT_EQ(CutChoice.video_codec_name, "H.264");
    EXPECT_EQ(CutChoice.audio_codec_name, "VORBIS");
    EXPECT_EQ(CutChoice.video_bit_rate, 20000000);
    EXPECT_EQ(CutChoice.audio_bit_rate, 32000);
    EXPECT_EQ(CutChoice.width, 1920);
    EXPECT_EQ(CutChoice.height, 1080);
    EXPECT_EQ(CutChoice.fps_name, "29.97 fps");
    EXPECT_EQ(CutChoice.sample_rate, 48000);
    EXPECT_EQ(CutChoice.channels, 2);
    EXPECT_EQ(dlg.extension, ".mkv");
    EXPECT_EQ(dlg.output_folder, m_output.path());
    EXPECT_EQ(dlg.file_title, "clip");
}

TEST_F(SettingsDialogTest, CutStartWithDefaultsKeepsTheSourceRateAndCleansTheName)
{
    CFileInfomation dlg;
    dlg.OnInitDialog();
    Open(&dlg);
    Find<QLineEdit>(&dlg, 1075)->setText("holiday:1?<2>|@\"");
    QTest::mouseClick(Find<QPushButton>(&dlg, 1194), Qt::LeftButton);
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.file_title, "holiday12\"");
    EXPECT_EQ(dlg.extension, ".mp4");
    EXPECT_EQ(CutChoice.fps_name, Text("JIEMIAN", "ywjyy").toStdString());
    EXPECT_EQ(CutChoice.video_codec_name, "MPEG4");
    EXPECT_EQ(CutChoice.audio_codec_name, "AAC");
    EXPECT_EQ(CutChoice.video_bit_rate, 3000000);
    EXPECT_EQ(CutChoice.audio_bit_rate, 128000);
    EXPECT_EQ(CutChoice.sample_rate, 44100);
    EXPECT_EQ(CutChoice.width, 320);
    EXPECT_EQ(CutChoice.height, 240);
}

TEST_F(SettingsDialogTest, CutRefusesANameThatIsEmptyOrCleansToNothing)
{
    CFileInfomation dlg;
    dlg.OnInitDialog();
    Open(&dlg);
    for (const char* name : {"", "??"}) {
        m_messages.clear();
        Find<QLineEdit>(&dlg, 1075)->setText(name);
        QTest::mouseClick(Find<QPushButton>(&dlg, 1194), Qt::LeftButton);
        ASSERT_EQ(m_messages.size(), 1u) << name;
        EXPECT_EQ(m_messages[0].text, Text("TISHI", "xsrwjm"));
        EXPECT_EQ(m_messages[0].caption, Text("APPLICATION", "name"));
        EXPECT_TRUE(dlg.isVisible());
    }
    Find<QLineEdit>(&dlg, 1075)->setText("?clip?");
    QTest::mouseClick(Find<QPushButton>(&dlg, 1194), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.file_title, "clip");
}

TEST_F(SettingsDialogTest, CutWithoutAFolderSaysSoAndStaysOpenButHasRecordedTheChoice)
{
    WriteSettings(QString(), false);
    CFileInfomation dlg;
    dlg.file_title = "clip";  // as the main window sets it
    dlg.OnInitDialog();
    Open(&dlg);
    EXPECT_EQ(Find<QLineEdit>(&dlg, 1003)->text(), "");
    CutChoice.video_bit_rate = 1;
    QTest::mouseClick(Find<QPushButton>(&dlg, 1194), Qt::LeftButton);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, Text("TISHI", "mlbcz"));
    EXPECT_EQ(m_messages[0].owner, &dlg);
    EXPECT_EQ(m_messages[0].caption, Text("APPLICATION", "name"));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_NE(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(CutChoice.video_bit_rate, 3000000);

    // A folder that vanished since it was chosen is refused the same way.
    WriteSettings(m_output.path() + "/gone");
    dlg.OnInitDialog();
    QTest::mouseClick(Find<QPushButton>(&dlg, 1194), Qt::LeftButton);
    EXPECT_EQ(MessageTexts(), QStringList({Text("TISHI", "mlbcz"), Text("TISHI", "mlbcz")}));
    EXPECT_TRUE(dlg.isVisible());
}

TEST_F(SettingsDialogTest, AFolderNoFileCanBeMadeInIsRefusedWithTheProbeMessage)
{
    // Even the superuser cannot make files in /proc.
    WriteSettings("/proc");
    CFileInfomation dlg;
    dlg.file_title = "clip";  // as the main window sets it
    dlg.source_extension = "/videos/clip.mkv";
    dlg.OnInitDialog();
    Open(&dlg);
    QTest::mouseClick(Find<QPushButton>(&dlg, 1194), Qt::LeftButton);
    ASSERT_EQ(m_messages.size(), 1u);
    // A direct cut writes the input's own format, and the message names it.
    const bool direct = CutChoice.direct;
    EXPECT_EQ(m_messages[0].text, QString("Can not create %1 file, please click browse button to save as other directory!")
                                      .arg(direct ? "MKV" : "MP4"));
    EXPECT_EQ(m_messages[0].owner, nullptr);  // application-modal
    EXPECT_TRUE(dlg.isVisible());
}

TEST_F(SettingsDialogTest, TheFolderTestLeavesNoProbeBehindAndKeepsAUsersFileOfThatName)
{
    const QString probe = m_output.path() + "/" + dialogs::kProbeFileName;
    EXPECT_TRUE(dialogs::CheckOutputFolder(nullptr, m_output.path(), "missing", "MP4"));
    EXPECT_FALSE(QFile::exists(probe));

    QFile mine(probe);
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
    mine.write("the user's own movie");
    mine.close();
    CFileInfomation dlg;
    dlg.file_title = "clip";  // as the main window sets it
    dlg.OnInitDialog();
    Open(&dlg);
    QTest::mouseClick(Find<QPushButton>(&dlg, 1194), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    ASSERT_TRUE(mine.open(QIODevice::ReadOnly));
    EXPECT_EQ(mine.readAll(), QByteArray("the user's own movie"));
}

TEST_F(SettingsDialogTest, BrowseAsksAgainAfterAnInvalidFolderAndRemembersTheGoodOne)
{
    QTemporaryDir chosen;
    CFileInfomation dlg;
    dlg.OnInitDialog();
    Open(&dlg);
    m_picks = {chosen.path() + "/nowhere", chosen.path()};
    QTest::mouseClick(Find<QPushButton>(&dlg, 1076), Qt::LeftButton);
    EXPECT_EQ(m_pickerTitles, QStringList({Text("JIEMIAN", "xzscml"), Text("JIEMIAN", "xzscml")}));
    // The picker opens in the output folder the field shows.
    EXPECT_EQ(m_pickerFolders, QStringList({m_output.path(), m_output.path()}));
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, Text("TISHI", "mlwx"));
    EXPECT_EQ(m_messages[0].owner, &dlg);
    EXPECT_EQ(Find<QLineEdit>(&dlg, 1003)->text(), chosen.path());
    EXPECT_EQ(i18n::ReadSetting("PATH", "name"), chosen.path());

    // A cancelled picker changes nothing; it had opened in the folder chosen last.
    QTest::mouseClick(Find<QPushButton>(&dlg, 1076), Qt::LeftButton);
    EXPECT_EQ(m_pickerFolders.last(), chosen.path());
    EXPECT_EQ(Find<QLineEdit>(&dlg, 1003)->text(), chosen.path());
    EXPECT_EQ(m_messages.size(), 1u);
}

TEST_F(SettingsDialogTest, EnterStartsTheCutFromAFieldOrTheDefaultButtonAndEscCancels)
{
    for (int focus : {1075, 1189, 1194}) {
        SCOPED_TRACE(focus);
        CFileInfomation dlg;
        dlg.file_title = "clip";
        dlg.OnInitDialog();
        Open(&dlg);
        EXPECT_TRUE(Find<QPushButton>(&dlg, 1194)->isDefault());
        QWidget* field = dlg.findChild<QWidget*>(QString::number(focus));
        field->setFocus();
        QTest::keyClick(field, focus == 1194 ? Qt::Key_Enter : Qt::Key_Return);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_EQ(dlg.extension, ".mp4");
    }
    CFileInfomation dlg;
    dlg.OnInitDialog();
    Open(&dlg);
    QTest::keyClick(Find<QLineEdit>(&dlg, 1075), Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST_F(SettingsDialogTest, TheCutSaysWhereADirectCutReallyStartsOnlyWhileOneIsChosen)
{
    CFileInfomation dlg;
    dlg.SetDirectCutStart("00:00:04.000");
    dlg.OnInitDialog();
    Open(&dlg);
    auto* line = Find<QLabel>(&dlg, 1199);
    EXPECT_EQ(line->text(), "A direct cut will start at the key picture at 00:00:04.000.");
    EXPECT_TRUE(line->isVisible());
    auto* exact = Find<QCheckBox>(&dlg, 1198);
    exact->setChecked(true);
    EXPECT_FALSE(line->isVisible());
    exact->setChecked(false);
    EXPECT_TRUE(line->isVisible());
    QTest::mouseClick(Find<QRadioButton>(&dlg, 1007), Qt::LeftButton);
    EXPECT_FALSE(line->isVisible());
    QTest::mouseClick(Find<QRadioButton>(&dlg, 1189), Qt::LeftButton);
    EXPECT_TRUE(line->isVisible());

    // No key picture before the start point to speak of: no line.
    CFileInfomation same;
    same.OnInitDialog();
    Open(&same);
    EXPECT_FALSE(Find<QLabel>(&same, 1199)->isVisible());
}

// A chapter per part is offered for spans into one file of a container
// that holds chapters, and remembered.
TEST_F(SettingsDialogTest, AChapterPerPartIsOfferedOnlyWhereTheFileCanHoldIt)
{
    const struct {
        const char* source;
        int spans;
        bool reencode;
        int format;    // with reencode
        bool a_file_each;
        bool shown, offered;
    } kCases[] = {
        {"/v/rec.mkv", 3, false, 0, false, true, true},  {"/v/rec.ts", 3, false, 0, false, true, false},
        {"/v/rec.avi", 2, false, 0, false, true, false}, {"/v/rec.ts", 3, true, 6, false, true, true},
        {"/v/rec.mp4", 3, true, 2, false, true, false},  {"/v/rec.mp4", 3, false, 0, true, true, false},
        {"/v/rec.mp4", 1, false, 0, false, true, true},  {"/v/rec.mp4", 0, false, 0, false, false, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.source) + " spans " + std::to_string(c.spans) + (c.reencode ? " format " : "") +
                     (c.reencode ? std::to_string(c.format) : "") + (c.a_file_each ? " a file each" : ""));
        CFileInfomation dlg;
        dlg.file_title = "rec";
        dlg.source_extension = c.source;
        dlg.span_count = c.spans;
        dlg.OnInitDialog();
        Open(&dlg);
        auto* box = Find<QCheckBox>(&dlg, 1203);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->isVisible(), c.shown);
        if (c.reencode) {
            QTest::mouseClick(Find<QRadioButton>(&dlg, 1007), Qt::LeftButton);
            List(&dlg, 1105)->setCurrentIndex(c.format);
        }
        if (c.a_file_each)
            List(&dlg, 1200)->setCurrentIndex(1);
        EXPECT_EQ(box->isEnabled(), c.offered);
        box->setChecked(true);
        QTest::mouseClick(Find<QPushButton>(&dlg, 1194), Qt::LeftButton);
        EXPECT_EQ(CutChoice.part_chapters, c.offered);
    }
    // Asked for once, it is asked for again next time; no spans leave it as it was.
    EXPECT_EQ(i18n::ReadSetting("CUT", "partchapters"), "1");
    CFileInfomation again;
    again.span_count = 2;
    again.OnInitDialog();
    EXPECT_TRUE(Find<QCheckBox>(&again, 1203)->isChecked());
    EXPECT_EQ(Find<QCheckBox>(&again, 1203)->text(), Text("JIEMIAN", "mdzj"));
}

// --- The join settings ------------------------------------------------------

TEST_F(SettingsDialogTest, JoinSettingsOpenWithTheirOwnListsAndName)
{
    CSettings dlg;
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.windowTitle(), Text("APPLICATION", "name"));
    EXPECT_TRUE(Find<QRadioButton>(&dlg, 1256)->isChecked());
    EXPECT_EQ(Find<QRadioButton>(&dlg, 1007)->text(), Text("JIEMIAN", "jjhb"));
    EXPECT_EQ(Find<QPushButton>(&dlg, 1)->text(), Text("JIEMIAN", "kshb"));
    EXPECT_EQ(Find<QPushButton>(&dlg, 1)->toolTip(), Text("JIEMIAN", "kshb"));
    EXPECT_EQ(Find<QLineEdit>(&dlg, 1075)->text(), Text("JIEMIAN", "hbhwj"));
    EXPECT_EQ(Find<QLineEdit>(&dlg, 1003)->text(), m_output.path());

    EXPECT_EQ(Entries(List(&dlg, 1105)), kFormats);
    EXPECT_EQ(Entries(List(&dlg, 1063)), kSizes);
    EXPECT_EQ(Entries(List(&dlg, 1066)), kVideoQualities);
    EXPECT_EQ(Entries(List(&dlg, 1065)), QStringList({"10.0 fps", "15.0 fps", "20.0 fps", "23.975 fps", "24.0 fps",
                                                      "25.0 fps", "29.97 fps", "30.0 fps", "50.0 fps", "60.0 fps"}));
    EXPECT_EQ(Entries(List(&dlg, 1067)), QStringList({"44100 Hz", "48000 Hz", "22050 Hz", "32000 Hz"}));
    EXPECT_EQ(Entries(List(&dlg, 1070)),
              QStringList({"64 kbps", "96 kbps", "128 kbps", "160 kbps", "192 kbps", "256 kbps", "320 kbps"}));
    EXPECT_EQ(List(&dlg, 1065)->currentText(), "29.97 fps");
    EXPECT_EQ(List(&dlg, 1070)->currentText(), "192 kbps");
    EXPECT_EQ(List(&dlg, 1067)->currentText(), "44100 Hz");
    EXPECT_EQ(List(&dlg, 1068)->currentText(), "2 Channel Stereo");
    EXPECT_FALSE(List(&dlg, 1068)->isVisibleTo(&dlg));
    for (int id : {1105, 1063, 1065, 1066, 1067, 1070})
        EXPECT_FALSE(List(&dlg, id)->isEnabled()) << id;

    Open(&dlg);
    QTest::mouseClick(Find<QRadioButton>(&dlg, 1007), Qt::LeftButton);
    for (int id : {1105, 1063, 1065, 1066, 1067, 1070})
        EXPECT_TRUE(List(&dlg, id)->isEnabled()) << id;
    QTest::mouseClick(Find<QRadioButton>(&dlg, 1256), Qt::LeftButton);
    for (int id : {1105, 1063, 1065, 1066, 1067, 1070})
        EXPECT_FALSE(List(&dlg, id)->isEnabled()) << id;
}

TEST_F(SettingsDialogTest, JoinStartWithTheDefaultsRecordsThem)
{
    CSettings dlg;
    dlg.OnInitDialog();
    Open(&dlg);
    QTest::mouseClick(Find<QPushButton>(&dlg, 1), Qt::LeftButton);
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_TRUE(m_messages.empty());
    EXPECT_TRUE(JoinChoice.direct);
    EXPECT_EQ(JoinChoice.video_codec_name, "MPEG4");
    EXPECT_EQ(JoinChoice.audio_codec_name, "AAC");
    EXPECT_EQ(JoinChoice.video_bit_rate, 3000000);
    EXPECT_EQ(JoinChoice.width, 320);
    EXPECT_EQ(JoinChoice.height, 240);
    EXPECT_EQ(JoinChoice.fps_name, "29.97 fps");
    EXPECT_EQ(JoinChoice.audio_bit_rate, 192000);
    EXPECT_EQ(JoinChoice.sample_rate, 44100);
    EXPECT_EQ(JoinChoice.channels, 2);
    EXPECT_EQ(dlg.extension, ".mp4");
    EXPECT_EQ(dlg.file_title, Text("JIEMIAN", "hbhwj"));
    EXPECT_EQ(dlg.output_folder, m_output.path());
}

TEST_F(SettingsDialogTest, JoinReencodedToWmvTakesItsCodecsAndExtension)
{
    CSettings dlg;
    dlg.OnInitDialog();
    Open(&dlg);
    QTest::mouseClick(Find<QRadioButton>(&dlg, 1007), Qt::LeftButton);
    List(&dlg, 1105)->setCurrentIndex(4);
    List(&dlg, 1063)->setCurrentText("640*480");
    QTest::mouseClick(Find<QPushButton>(&dlg, 1), Qt::LeftButton);
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(JoinChoice.direct);
    EXPECT_EQ(JoinChoice.video_codec_name, "WMV2");
    EXPECT_EQ(JoinChoice.audio_codec_name, "WMA8");
    EXPECT_EQ(JoinChoice.width, 640);
    EXPECT_EQ(dlg.extension, ".wmv");
}

TEST_F(SettingsDialogTest, JoinRefusesAnEmptyNameBeforeRecordingAnything)
{
    CSettings dlg;
    dlg.OnInitDialog();
    Open(&dlg);
    Find<QLineEdit>(&dlg, 1075)->clear();
    QTest::mouseClick(Find<QPushButton>(&dlg, 1), Qt::LeftButton);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, Text("TISHI", "xsrwjm"));
    EXPECT_EQ(m_messages[0].owner, nullptr);
    EXPECT_EQ(m_messages[0].caption, Text("APPLICATION", "name"));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(JoinChoice.video_codec_name, "");
    EXPECT_EQ(JoinChoice.width, 0);

    // Two question marks are not empty, but would clean away to a hidden ".mp4".
    Find<QLineEdit>(&dlg, 1075)->setText("??");
    QTest::mouseClick(Find<QPushButton>(&dlg, 1), Qt::LeftButton);
    EXPECT_EQ(m_messages.size(), 2u);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(JoinChoice.width, 0);
}

TEST_F(SettingsDialogTest, JoinRecordsItsChoiceEvenWhenTheFolderThenFails)
{
    WriteSettings(m_output.path() + "/gone");
    CSettings dlg;
    dlg.OnInitDialog();
    Open(&dlg);
    QTest::mouseClick(Find<QPushButton>(&dlg, 1), Qt::LeftButton);
    EXPECT_EQ(MessageTexts(), QStringList({Text("TISHI", "mlbcz")}));
    EXPECT_EQ(m_messages[0].owner, &dlg);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(JoinChoice.fps_name, "29.97 fps");

    // Browse puts a folder in, and the next press passes.
    m_picks = {m_output.path()};
    QTest::mouseClick(Find<QPushButton>(&dlg, 1072), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>(&dlg, 1), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(i18n::ReadSetting("PATH", "name"), m_output.path());
}

TEST_F(SettingsDialogTest, JoinStartsOnEnterInAFieldOrOnItsDefaultButtonAndEscCancels)
{
    for (int focus : {1075, 1}) {
        SCOPED_TRACE(focus);
        CSettings dlg;
        dlg.OnInitDialog();
        Open(&dlg);
        auto* start = Find<QPushButton>(&dlg, 1);
        EXPECT_TRUE(start->isDefault());
        QWidget* field = dlg.findChild<QWidget*>(QString::number(focus));
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_EQ(JoinChoice.fps_name, "29.97 fps");
    }

    CSettings second;
    second.OnInitDialog();
    Open(&second);
    QTest::keyClick(Find<QLineEdit>(&second, 1075), Qt::Key_Escape);
    EXPECT_FALSE(second.isVisible());
    EXPECT_EQ(second.result(), QDialog::Rejected);
}

TEST_F(SettingsDialogTest, JoinMovesWhenDraggedAnywhereOnItsClientArea)
{
    CSettings dlg;
    dlg.OnInitDialog();
    Open(&dlg);
    const QPoint before = dlg.pos();
    // On a caption, which takes no clicks itself, as on the bare background.
    const QPoint press = Find(&dlg, 1275)->mapTo(&dlg, QPoint(3, 3));
    QTest::mousePress(&dlg, Qt::LeftButton, {}, press);
    QMouseEvent move(QEvent::MouseMove, QPointF(press + QPoint(25, 15)),
                     QPointF(dlg.mapToGlobal(press + QPoint(25, 15))), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(&dlg, &move);
    QTest::mouseRelease(&dlg, Qt::LeftButton, {}, press + QPoint(25, 15));
    EXPECT_EQ(dlg.pos(), before + QPoint(25, 15));

    // The cut settings move by the title bar only.
    CFileInfomation cut;
    cut.OnInitDialog();
    Open(&cut);
    const QPoint cutBefore = cut.pos();
    QTest::mousePress(&cut, Qt::LeftButton, {}, press);
    QMouseEvent cutMove(QEvent::MouseMove, QPointF(press + QPoint(25, 15)),
                        QPointF(cut.mapToGlobal(press + QPoint(25, 15))), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(&cut, &cutMove);
    QTest::mouseRelease(&cut, Qt::LeftButton, {}, press + QPoint(25, 15));
    EXPECT_EQ(cut.pos(), cutBefore);
}

}  // namespace
