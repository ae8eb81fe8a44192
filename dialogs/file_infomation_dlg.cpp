// SPDX-License-Identifier: GPL-3.0-or-later
#include "file_infomation_dlg.h"

#include "job_choices.h"
#include "job_setup.h"
#include "output_folder.h"
#include "seams.h"
#include "settings_file.h"
#include "settings_layout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

using dialogs::SettingsKind;

namespace {

// Template 165: 324 x 325 dialog units, 8-point font.
constexpr int kFontPoints = 8;
constexpr int kWidthDlu = 324;
constexpr int kHeightDlu = 325;

const QStringList kVideoQualities = {
    QStringLiteral("1500 kbps"),  QStringLiteral("2000 kbps"),  QStringLiteral("2500 kbps"),
    QStringLiteral("3000 kbps"),  QStringLiteral("4000 kbps"),  QStringLiteral("5000 kbps"),
    QStringLiteral("6000 kbps"),  QStringLiteral("8000 kbps"),  QStringLiteral("12000 kbps"),
    QStringLiteral("16000 kbps"), QStringLiteral("20000 kbps")};
const QStringList kVideoSizes = {QStringLiteral("320*240"),  QStringLiteral("640*480"),
                                 QStringLiteral("720*480"),  QStringLiteral("720*576"),
                                 QStringLiteral("960*540"),  QStringLiteral("1024*768"),
                                 QStringLiteral("1280*720"), QStringLiteral("1920*1080")};
// Entry 0, keeping the source's rate, comes from the language file.
const QStringList kFrameRates = {
    QStringLiteral("8.0 fps"),  QStringLiteral("10.0 fps"),   QStringLiteral("12.0 fps"),
    QStringLiteral("14.985 fps"), QStringLiteral("15.0 fps"), QStringLiteral("23.975 fps"),
    QStringLiteral("24.0 fps"), QStringLiteral("25.0 fps"),   QStringLiteral("29.97 fps"),
    QStringLiteral("30.0 fps"), QStringLiteral("50.0 fps"),   QStringLiteral("60.0 fps")};
const QStringList kAudioQualities = {QStringLiteral("32 kbps"),  QStringLiteral("64 kbps"),
                                     QStringLiteral("96 kbps"),  QStringLiteral("128 kbps"),
                                     QStringLiteral("160 kbps"), QStringLiteral("192 kbps"),
                                     QStringLiteral("256 kbps"), QStringLiteral("320 kbps")};
const QStringList kSampleRates = {QStringLiteral("22050 Hz"), QStringLiteral("32000 Hz"),
                                  QStringLiteral("44100 Hz"), QStringLiteral("48000 Hz")};

const dialogs::SettingsTemplate kTemplate165 = {
    {{1259, 8, 7, 159, 8}, SettingsKind::Label, "yzfa"},
    {{1189, 21, 16, 294, 14}, SettingsKind::Radio, "zjjq"},
    {{1007, 22, 43, 294, 23}, SettingsKind::Radio, "jjjq"},
    {{1260, 37, 68, 110, 8}, SettingsKind::Label, "spgs"},
    {{1105, 53, 83, 248, 30}, SettingsKind::DropList, ""},
    {{1261, 37, 98, 106, 8}, SettingsKind::Label, "spzl"},
    {{1190, 54, 111, 83, 30}, SettingsKind::DropList, ""},
    {{1262, 202, 99, 117, 8}, SettingsKind::Label, "spdx"},
    {{1191, 219, 113, 82, 30}, SettingsKind::DropList, ""},
    {{1263, 36, 134, 111, 8}, SettingsKind::Label, "zl"},
    {{1065, 54, 145, 86, 30}, SettingsKind::DropList, ""},
    {{1264, 35, 169, 111, 8}, SettingsKind::Label, "ypzl"},
    {{1192, 54, 180, 85, 30}, SettingsKind::DropList, ""},
    {{1265, 205, 166, 100, 8}, SettingsKind::Label, "ypcyl"},
    {{1197, 219, 180, 82, 30}, SettingsKind::DropList, ""},
    {{1193, 7, 197, 309, 26}, SettingsKind::Label, "zyzjjq"},
    {{1266, 10, 230, 109, 8}, SettingsKind::Label, "scml"},
    {{1003, 29, 242, 214, 14}, SettingsKind::ReadOnlyEdit, ""},
    {{1076, 247, 241, 58, 16}, SettingsKind::Button, "ll"},
    {{1267, 11, 261, 107, 8}, SettingsKind::Label, "wjm"},
    {{1075, 29, 271, 275, 14}, SettingsKind::Edit, ""},
    {{1194, 225, 294, 98, 29}, SettingsKind::Button, "ksjq1"},
    {{0, 0, 0, 323, 221}, SettingsKind::Group, ""},
    {{0, 0, 221, 323, 69}, SettingsKind::Group, ""},
};

std::string Utf8(const QString& text) { return text.toStdString(); }

// Exact cuts: a choice of the direct cut, under its radio button, remembered
// in setting.ini.
constexpr dialogs::ControlPlace kExactCutPlace{1198, 33, 29, 282, 14};
// Left of the start button: where a direct cut really starts, then the
// button that queues the cut instead of starting it.
constexpr dialogs::ControlPlace kKeyStartPlace{1199, 8, 295, 112, 26, false};
constexpr dialogs::ControlPlace kQueuePlace{1202, 123, 294, 98, 29};
// Spans: one file or a file each, beside the file name's caption, remembered.
constexpr dialogs::ControlPlace kSpanFilesPlace{1200, 150, 257, 154, 12};
const QString kSeparateKey = QStringLiteral("separate");
// Spans: kept or removed, beside the output folder's caption, remembered.
constexpr dialogs::ControlPlace kSpanMeaningPlace{1201, 150, 228, 154, 12};
const QString kRemoveKey = QStringLiteral("remove");
// Spans: a chapter per part of the one file, in the free room right of the
// frame rate, remembered.
constexpr dialogs::ControlPlace kPartChaptersPlace{1203, 150, 145, 165, 14};
const QString kPartChaptersKey = QStringLiteral("partchapters");
const QString kExactSection = QStringLiteral("CUT");
const QString kExactKey = QStringLiteral("exact");

}  // namespace

CFileInfomation::CFileInfomation(QWidget* parent) : QDialog(parent)
{
    setFont(dialogs::DialogFont(kFontPoints));
    const dialogs::DialogUnits units(font());
    setFixedSize(units.ToPixelsX(kWidthDlu), units.ToPixelsY(kHeightDlu));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    dialogs::BuildSettingsTemplate(this, kTemplate165);

    const auto list = [this](int id) { return dialogs::FindControl<QComboBox>(this, id); };
    m_listFormat = list(1105);
    m_listVideoQuality = list(1190);
    m_listVideoSize = list(1191);
    m_listFrameRate = list(1065);
    m_listAudioQuality = list(1192);
    m_listSampleRate = list(1197);
    m_radioDirect = dialogs::FindControl<QRadioButton>(this, 1189);
    m_radioIndirect = dialogs::FindControl<QRadioButton>(this, 1007);
    m_editFolder = dialogs::FindControl<QLineEdit>(this, 1003);
    m_editTitle = dialogs::FindControl<QLineEdit>(this, 1075);
    m_checkExact = new QCheckBox(this);
    dialogs::PlaceControl(m_checkExact, kExactCutPlace, units);
    m_labelKeyStart = new QLabel(this);
    m_labelKeyStart->setWordWrap(true);
    m_labelKeyStart->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    dialogs::PlaceControl(m_labelKeyStart, kKeyStartPlace, units);
    m_listSpanFiles = new QComboBox(this);
    dialogs::PlaceControl(m_listSpanFiles, kSpanFilesPlace, units);
    m_listSpanMeaning = new QComboBox(this);
    dialogs::PlaceControl(m_listSpanMeaning, kSpanMeaningPlace, units);
    m_checkPartChapters = new QCheckBox(this);
    dialogs::PlaceControl(m_checkPartChapters, kPartChaptersPlace, units);
    m_btnStart = dialogs::FindControl<QPushButton>(this, 1194);
    m_btnStart->setDefault(true);
    m_btnQueue = new QPushButton(this);
    dialogs::PlaceControl(m_btnQueue, kQueuePlace, units);
    connect(m_checkExact, &QCheckBox::toggled, this, &CFileInfomation::ShowDirectCutStart);
    connect(m_listFormat, qOverload<int>(&QComboBox::currentIndexChanged), this, &CFileInfomation::OfferPartChapters);
    connect(m_listSpanFiles, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &CFileInfomation::OfferPartChapters);

    connect(m_radioDirect, &QRadioButton::clicked, this, &CFileInfomation::OnDirectCut);
    connect(m_radioIndirect, &QRadioButton::clicked, this, &CFileInfomation::OnIndirectCut);
    connect(dialogs::FindControl<QPushButton>(this, 1076), &QPushButton::clicked, this,
            &CFileInfomation::OnBrowse);
    connect(m_btnStart, &QPushButton::clicked, this, [this] {
        add_to_queue = false;
        OnStartCut();
    });
    connect(m_btnQueue, &QPushButton::clicked, this, [this] {
        add_to_queue = true;
        OnStartCut();
    });
}

bool CFileInfomation::OnInitDialog()
{
    const QString language = dialogs::CurrentLanguage();
    const QString folder = i18n::ReadSetting(QStringLiteral("PATH"), QStringLiteral("name"));
    dialogs::ApplyCaptions(this, kTemplate165, language);
    setWindowTitle(dialogs::LanguageText(language, "APPLICATION", "name"));
    m_folderMissingText = dialogs::LanguageText(language, "TISHI", "mlbcz");

    m_radioDirect->setChecked(true);
    m_checkExact->setText(dialogs::LanguageText(language, "JIEMIAN", "jqjq"));
    m_btnQueue->setText(dialogs::LanguageText(language, "JIEMIAN", "jrdl"));
    m_checkExact->setChecked(i18n::ReadSetting(kExactSection, kExactKey) == QLatin1String("1"));
    m_labelKeyStart->setText(dialogs::LanguageText(language, "JIEMIAN", "zjjqqd").replace(QStringLiteral("%1"), m_keyStartTime));
    dialogs::FillList(m_listFormat, dialogs::FormatTexts(), 0);
    dialogs::FillList(m_listVideoQuality, kVideoQualities, 3);
    dialogs::FillList(m_listVideoSize, kVideoSizes, 0);
    dialogs::FillList(m_listFrameRate,
                      QStringList{dialogs::LanguageText(language, "JIEMIAN", "ywjyy")} + kFrameRates, 0);
    dialogs::FillList(m_listAudioQuality, kAudioQualities, 3);
    dialogs::FillList(m_listSampleRate, kSampleRates, 2);
    EnableLists(false);
    dialogs::FillList(m_listSpanFiles,
                      {dialogs::LanguageText(language, "JIEMIAN", "ygwj"),
                       dialogs::LanguageText(language, "JIEMIAN", "mdyg")},
                      i18n::ReadSetting(kExactSection, kSeparateKey) == QLatin1String("1") ? 1 : 0);
    m_listSpanFiles->setVisible(span_count > 1);
    dialogs::FillList(m_listSpanMeaning,
                      {dialogs::LanguageText(language, "JIEMIAN", "pdbl"),
                       dialogs::LanguageText(language, "JIEMIAN", "pdsc")},
                      i18n::ReadSetting(kExactSection, kRemoveKey) == QLatin1String("1") ? 1 : 0);
    m_listSpanMeaning->setVisible(span_count > 0);
    m_checkPartChapters->setText(dialogs::LanguageText(language, "JIEMIAN", "mdzj"));
    m_checkPartChapters->setChecked(i18n::ReadSetting(kExactSection, kPartChaptersKey) == QLatin1String("1"));
    m_checkPartChapters->setVisible(span_count > 0);
    OfferPartChapters();

    m_editFolder->setText(folder);
    m_editTitle->setText(file_title);
    CutChoice.direct = true;
    return true;
}

int CFileInfomation::DoModal()
{
    OnInitDialog();
    return exec();
}

void CFileInfomation::EnableLists(bool enabled)
{
    for (QComboBox* list : {m_listFormat, m_listVideoQuality, m_listVideoSize, m_listFrameRate,
                            m_listAudioQuality, m_listSampleRate})
        list->setEnabled(enabled);
    m_checkExact->setEnabled(!enabled);  // the lists are on for re-encoding only
    ShowDirectCutStart();
    OfferPartChapters();
}

// The container written: the source's in a direct cut, else the format chosen.
bool CFileInfomation::PartChaptersPossible() const
{
    const bool separate = span_count > 1 && m_listSpanFiles->currentIndex() == 1;
    const std::string container = m_radioDirect->isChecked()
                                      ? FileExtensionWithDot(Utf8(source_extension))
                                      : FormatExtension(Utf8(m_listFormat->currentText()));
    return span_count > 0 && !separate && ContainerKeepsChapters(container);
}

void CFileInfomation::OfferPartChapters() { m_checkPartChapters->setEnabled(PartChaptersPossible()); }

void CFileInfomation::SetDirectCutStart(const QString& timeText)
{
    m_keyStartTime = timeText;
    ShowDirectCutStart();
}

void CFileInfomation::ShowDirectCutStart()
{
    m_labelKeyStart->setVisible(!m_keyStartTime.isEmpty() && m_radioDirect->isChecked() &&
                                !m_checkExact->isChecked());
}

void CFileInfomation::OnDirectCut() { EnableLists(false); }

void CFileInfomation::OnIndirectCut() { EnableLists(true); }

void CFileInfomation::OnBrowse() { dialogs::BrowseOutputFolder(this, m_editFolder); }

// The choices are recorded whatever the mode, before the folder is tested:
// disabled lists still hold their selections. A name that cleans to nothing
// would make a hidden file of the extension alone; it is refused first, as
// the join settings refuse an empty name.
void CFileInfomation::OnStartCut()
{
    if (CleanFileTitle(Utf8(m_editTitle->text())).empty()) {
        const QString language = dialogs::CurrentLanguage();
        platform::MessageBoxRequest request;
        request.text = dialogs::LanguageText(language, "TISHI", "xsrwjm");
        request.caption = dialogs::LanguageText(language, "APPLICATION", "name");
        platform::ShowMessageBox(request);
        return;
    }
    CutChoice.direct = m_radioDirect->isChecked();
    ApplyFormatEntry(m_listFormat->currentIndex(), &CutChoice);
    CutChoice.video_bit_rate = ParseRateText(Utf8(m_listVideoQuality->currentText()));
    ParseSizeText(Utf8(m_listVideoSize->currentText()), &CutChoice.width, &CutChoice.height);
    CutChoice.fps_name = Utf8(m_listFrameRate->currentText());
    CutChoice.audio_bit_rate = ParseRateText(Utf8(m_listAudioQuality->currentText()));
    CutChoice.sample_rate = ParseRateText(Utf8(m_listSampleRate->currentText()));
    CutChoice.channels = 2;
    CutChoice.exact = m_checkExact->isChecked();
    i18n::WriteSetting(kExactSection, kExactKey, CutChoice.exact ? QStringLiteral("1") : QStringLiteral("0"));
    if (span_count > 0) {
        remove_spans = m_listSpanMeaning->currentIndex() == 1;
        i18n::WriteSetting(kExactSection, kRemoveKey, remove_spans ? QStringLiteral("1") : QStringLiteral("0"));
    }
    CutChoice.part_chapters = m_checkPartChapters->isChecked() && PartChaptersPossible();
    if (span_count > 0)
        i18n::WriteSetting(kExactSection, kPartChaptersKey,
                           m_checkPartChapters->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    if (span_count > 1) {
        separate_spans = m_listSpanFiles->currentIndex() == 1;
        i18n::WriteSetting(kExactSection, kSeparateKey, separate_spans ? QStringLiteral("1") : QStringLiteral("0"));
    }

    output_folder = m_editFolder->text();
    const QString format = dialogs::FormatWord(
        CutChoice.direct ? source_extension
                         : QString::fromStdString(FormatExtension(Utf8(m_listFormat->currentText()))));
    if (!dialogs::CheckOutputFolder(this, output_folder, m_folderMissingText, format))
        return;
    file_title = QString::fromStdString(CleanFileTitle(Utf8(m_editTitle->text())));
    extension = QString::fromStdString(FormatExtension(Utf8(m_listFormat->currentText())));
    done(QDialog::Accepted);
}

// Enter starts the cut wherever the focus is, as the default button would.
void CFileInfomation::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        m_btnStart->click();
        return;
    }
    QDialog::keyPressEvent(event);
}
