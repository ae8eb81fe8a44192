// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings_dlg.h"

#include "job_choices.h"
#include "job_setup.h"
#include "output_folder.h"
#include "seams.h"
#include "settings_file.h"
#include "settings_layout.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QWindow>

using dialogs::SettingsKind;

namespace {

// Template 167: 320 x 322 dialog units, 8-point font.
constexpr int kFontPoints = 8;
constexpr int kWidthDlu = 320;
constexpr int kHeightDlu = 322;

const dialogs::SettingsTemplate kTemplate167 = {
    {{1268, 7, 7, 202, 12}, SettingsKind::Label, "yzfa"},
    {{1256, 16, 15, 294, 22}, SettingsKind::Radio, "zjhb"},
    {{1007, 16, 37, 294, 25}, SettingsKind::Radio, "jjhb"},
    {{1269, 38, 65, 114, 8}, SettingsKind::Label, "spgs"},
    {{1105, 57, 77, 225, 30}, SettingsKind::DropList, ""},
    {{1270, 38, 94, 131, 8}, SettingsKind::Label, "spzl"},
    {{1066, 57, 105, 77, 58}, SettingsKind::DropList, ""},
    {{1271, 194, 97, 107, 8}, SettingsKind::Label, "spdx"},
    {{1063, 211, 111, 71, 76}, SettingsKind::DropList, ""},
    {{1272, 37, 125, 148, 8}, SettingsKind::Label, "zl"},
    {{1065, 58, 138, 78, 60}, SettingsKind::DropList, ""},
    {{1273, 37, 158, 131, 8}, SettingsKind::Label, "ypzl"},
    {{1070, 57, 170, 79, 62}, SettingsKind::DropList, ""},
    {{1274, 195, 156, 109, 8}, SettingsKind::Label, "ypcyl"},
    {{1067, 211, 170, 72, 50}, SettingsKind::DropList, ""},
    {{1275, 7, 191, 291, 22}, SettingsKind::Label, "zyzjhb"},
    {{1276, 9, 222, 122, 8}, SettingsKind::Label, "scml"},
    {{1003, 27, 233, 210, 14}, SettingsKind::ReadOnlyEdit, ""},
    {{1072, 243, 231, 57, 16}, SettingsKind::Button, "ll"},
    {{1277, 9, 254, 124, 8}, SettingsKind::Label, "wjm"},
    {{1075, 27, 267, 272, 14}, SettingsKind::Edit, ""},
    {{1, 229, 292, 88, 27}, SettingsKind::DefaultButton, "kshb"},
    // Queues the join instead of starting it.
    {{1202, 137, 292, 88, 27}, SettingsKind::Button, "jrdl"},
    {{0, 0, 0, 317, 213}, SettingsKind::Group, ""},
    {{0, 0, 213, 317, 75}, SettingsKind::Group, ""},
    {{1068, 160, 307, 38, 69}, SettingsKind::HiddenDropList, ""},
    // The codec choices are never shown: the format entry decides both codecs.
    {{1064, 0, 0, 1, 1}, SettingsKind::HiddenDropList, ""},
    {{1069, 0, 0, 1, 1}, SettingsKind::HiddenDropList, ""},
};

const QStringList kVideoSizes = {QStringLiteral("320*240"),  QStringLiteral("640*480"),
                                 QStringLiteral("720*480"),  QStringLiteral("720*576"),
                                 QStringLiteral("960*540"),  QStringLiteral("1024*768"),
                                 QStringLiteral("1280*720"), QStringLiteral("1920*1080")};
const QStringList kFrameRates = {QStringLiteral("10.0 fps"),   QStringLiteral("15.0 fps"),
                                 QStringLiteral("20.0 fps"),   QStringLiteral("23.975 fps"),
                                 QStringLiteral("24.0 fps"),   QStringLiteral("25.0 fps"),
                                 QStringLiteral("29.97 fps"),  QStringLiteral("30.0 fps"),
                                 QStringLiteral("50.0 fps"),   QStringLiteral("60.0 fps")};
const QStringList kVideoQualities = {
    QStringLiteral("1500 kbps"),  QStringLiteral("2000 kbps"),  QStringLiteral("2500 kbps"),
    QStringLiteral("3000 kbps"),  QStringLiteral("4000 kbps"),  QStringLiteral("5000 kbps"),
    QStringLiteral("6000 kbps"),  QStringLiteral("8000 kbps"),  QStringLiteral("12000 kbps"),
    QStringLiteral("16000 kbps"), QStringLiteral("20000 kbps")};
const QStringList kSampleRates = {QStringLiteral("44100 Hz"), QStringLiteral("48000 Hz"),
                                  QStringLiteral("22050 Hz"), QStringLiteral("32000 Hz")};
const QStringList kAudioQualities = {QStringLiteral("64 kbps"),  QStringLiteral("96 kbps"),
                                     QStringLiteral("128 kbps"), QStringLiteral("160 kbps"),
                                     QStringLiteral("192 kbps"), QStringLiteral("256 kbps"),
                                     QStringLiteral("320 kbps")};
const QStringList kChannels = {QStringLiteral("1 Channel Mono"), QStringLiteral("2 Channel Stereo")};

const QString kSizeFailure = QString::fromUtf8("转化失败!");

std::string Utf8(const QString& text) { return text.toStdString(); }

void Tell(QWidget* owner, const QString& text, const QString& caption)
{
    platform::MessageBoxRequest request;
    request.owner = owner;
    request.text = text;
    request.caption = caption;
    platform::ShowMessageBox(request);
}

}  // namespace

CSettings::CSettings(QWidget* parent) : QDialog(parent)
{
    setFont(dialogs::DialogFont(kFontPoints));
    const dialogs::DialogUnits units(font());
    setFixedSize(units.ToPixelsX(kWidthDlu), units.ToPixelsY(kHeightDlu));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    dialogs::BuildSettingsTemplate(this, kTemplate167);

    const auto list = [this](int id) { return dialogs::FindControl<QComboBox>(this, id); };
    m_listFormat = list(1105);
    m_listVideoSize = list(1063);
    m_listVideoCodec = list(1064);
    m_listFrameRate = list(1065);
    m_listVideoQuality = list(1066);
    m_listSampleRate = list(1067);
    m_listChannels = list(1068);
    m_listAudioCodec = list(1069);
    m_listAudioQuality = list(1070);
    m_radioDirect = dialogs::FindControl<QRadioButton>(this, 1256);
    m_radioIndirect = dialogs::FindControl<QRadioButton>(this, 1007);
    m_editFolder = dialogs::FindControl<QLineEdit>(this, 1003);
    m_editTitle = dialogs::FindControl<QLineEdit>(this, 1075);
    m_btnStart = dialogs::FindControl<QPushButton>(this, 1);

    connect(m_radioDirect, &QRadioButton::clicked, this, &CSettings::OnDirectJoin);
    connect(m_radioIndirect, &QRadioButton::clicked, this, &CSettings::OnIndirectJoin);
    connect(dialogs::FindControl<QPushButton>(this, 1072), &QPushButton::clicked, this, &CSettings::OnBrowse);
    connect(m_btnStart, &QPushButton::clicked, this, [this] {
        add_to_queue = false;
        OnOK();
    });
    connect(dialogs::FindControl<QPushButton>(this, 1202), &QPushButton::clicked, this, [this] {
        add_to_queue = true;
        OnOK();
    });

    // Enter must be stopped before the focused control or the default button sees it.
    qApp->installEventFilter(this);
}

CSettings::~CSettings()
{
    qApp->removeEventFilter(this);
}

bool CSettings::OnInitDialog()
{
    const QString language = dialogs::CurrentLanguage();
    const QString folder = i18n::ReadSetting(QStringLiteral("PATH"), QStringLiteral("name"));
    dialogs::ApplyCaptions(this, kTemplate167, language);
    setWindowTitle(dialogs::LanguageText(language, "APPLICATION", "name"));
    m_btnStart->setToolTip(dialogs::LanguageText(language, "JIEMIAN", "kshb"));

    m_editTitle->setText(dialogs::LanguageText(language, "JIEMIAN", "hbhwj"));
    m_radioDirect->setChecked(true);
    dialogs::FillList(m_listFormat, dialogs::FormatTexts(), 0);
    m_editFolder->setText(folder);
    dialogs::FillList(m_listVideoSize, kVideoSizes, 0);
    dialogs::FillList(m_listFrameRate, kFrameRates, 6);
    dialogs::FillList(m_listVideoQuality, kVideoQualities, 3);
    dialogs::FillList(m_listSampleRate, kSampleRates, 0);
    dialogs::FillList(m_listAudioQuality, kAudioQualities, 4);
    dialogs::FillList(m_listChannels, kChannels, 1);
    dialogs::FillList(m_listVideoCodec, {QStringLiteral("MPEG4")}, 0);
    dialogs::FillList(m_listAudioCodec, {QStringLiteral("AAC")}, 0);
    EnableLists(false);
    return true;
}

int CSettings::DoModal()
{
    OnInitDialog();
    return exec();
}

void CSettings::EnableLists(bool enabled)
{
    for (QComboBox* list : {m_listFormat, m_listVideoSize, m_listVideoCodec, m_listFrameRate, m_listVideoQuality,
                            m_listSampleRate, m_listChannels, m_listAudioCodec, m_listAudioQuality})
        list->setEnabled(enabled);
}

void CSettings::OnDirectJoin() { EnableLists(false); }

void CSettings::OnIndirectJoin() { EnableLists(true); }

void CSettings::OnBrowse() { dialogs::BrowseOutputFolder(this, m_editFolder); }

// An empty name, or one that cleans to nothing, is refused before anything
// is recorded; the folder is tested after the choices are in JoinChoice.
void CSettings::OnOK()
{
    const QString language = dialogs::CurrentLanguage();
    const QString caption = dialogs::LanguageText(language, "APPLICATION", "name");
    const QString noName = dialogs::LanguageText(language, "TISHI", "xsrwjm");
    const QString folderMissing = dialogs::LanguageText(language, "TISHI", "mlbcz");

    // A name that cleans to nothing would make a hidden file of the extension alone.
    if (m_editTitle->text().isEmpty() || CleanFileTitle(Utf8(m_editTitle->text())).empty()) {
        Tell(nullptr, noName, caption);
        return;
    }
    JoinChoice.direct = m_radioDirect->isChecked();
    ApplyFormatEntry(m_listFormat->currentIndex(), &JoinChoice);

    int width = 0, height = 0;
    if (ParseSizeText(Utf8(m_listVideoSize->currentText()), &width, &height)) {
        JoinChoice.width = width;
        JoinChoice.height = height;
    } else {
        Tell(this, kSizeFailure, QString());
    }
    JoinChoice.fps_name = Utf8(m_listFrameRate->currentText());
    JoinChoice.video_bit_rate = ParseRateText(Utf8(m_listVideoQuality->currentText()));
    JoinChoice.sample_rate = ParseRateText(Utf8(m_listSampleRate->currentText()));
    const QString channels = m_listChannels->currentText();
    if (channels == QLatin1String("1 Channel Mono"))
        JoinChoice.channels = 1;
    else if (channels == QLatin1String("2 Channel Stereo"))
        JoinChoice.channels = 2;
    else if (channels == QLatin1String("5.1 Channel"))
        JoinChoice.channels = 6;
    JoinChoice.audio_bit_rate = ParseRateText(Utf8(m_listAudioQuality->currentText()));

    output_folder = m_editFolder->text();
    const QString format = dialogs::FormatWord(
        m_radioDirect->isChecked() ? source_extension
                                   : QString::fromStdString(FormatExtension(Utf8(m_listFormat->currentText()))));
    if (!dialogs::CheckOutputFolder(this, output_folder, folderMissing, format))
        return;
    file_title = QString::fromStdString(CleanFileTitle(Utf8(m_editTitle->text())));
    extension = QString::fromStdString(FormatExtension(Utf8(m_listFormat->currentText())));
    done(QDialog::Accepted);
}

// Enter starts the join wherever the focus is, through the default button,
// once; an open drop list keeps its Enter. Esc still cancels.
bool CSettings::eventFilter(QObject* watched, QEvent* event)
{
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
        !QApplication::activePopupWidget()) {
        auto* widget = qobject_cast<QWidget*>(watched);
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (widget && (widget == this || isAncestorOf(widget)) && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            if (event->type() == QEvent::KeyPress && !static_cast<QKeyEvent*>(event)->isAutoRepeat())
                m_btnStart->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// A press anywhere on the client area moves the window, as the title bar would.
void CSettings::mousePressEvent(QMouseEvent* event)
{
    if (!m_drag.Press(this, event))
        QDialog::mousePressEvent(event);
}

void CSettings::mouseMoveEvent(QMouseEvent* event)
{
    m_drag.Move(this, event);
    QDialog::mouseMoveEvent(event);
}

void CSettings::mouseReleaseEvent(QMouseEvent* event)
{
    m_drag.Release();
    QDialog::mouseReleaseEvent(event);
}
