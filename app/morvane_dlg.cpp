// SPDX-License-Identifier: GPL-3.0-or-later
// The window both tabs share: its controls, their layout as it grows, and
// its size. The tabs' own code is in cut_tab.cpp and join_tab.cpp; adding
// files, the language, and closing and keys each have a file of their own.
#include "morvane_dlg.h"

#include "av_convert_dlg.h"
#include "bitmap_slider.h"
#include "check_list_ctrl.h"
#include "control_button.h"
#include "dialog_template.h"
#include "hyperlink.h"
#include "job_choices.h"
#include "job_runner.h"
#include "key_frame_scanner.h"
#include "preview_worker.h"
#include "language_file.h"
#include "resource_loader.h"
#include "settings_file.h"
#include "ui_strings.h"
#include "app_directory.h"
#include "window_parts.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>

#include <algorithm>
#include <cmath>

using dialogs::ControlPlace;
using i18n::g_uiStrings;
using window_parts::kZeroTime;
using window_parts::LanguageText;
using window_parts::Ui;

namespace {

enum class Kind { Tab, Link, Static, Combo, List, Preview, Button, Slider, Group, Edit, Sunken };

struct MainControl {
    ControlPlace place;
    Kind kind;
    int bitmap = 0;            // buttons: one picture for every state
    const char* text = "";     // the template's own text
};

// Template 102: 383 x 263 dialog units, 9-point font. The order is the
// template's, which is also the stacking order here (later on top).
constexpr int kFontPoints = 9;
constexpr int kWidthDlu = 383;
constexpr int kHeightDlu = 263;
const MainControl kTemplate102[] = {
    {{1160, 4, 0, 147, 16}, Kind::Tab},
    {{1180, 154, 1, 180, 11}, Kind::Link},
    {{1278, 301, 1, 32, 10}, Kind::Static},
    {{1105, 335, 0, 44, 30}, Kind::Combo},
    {{1114, 4, 15, 308, 201, false}, Kind::List},
    {{1139, 4, 16, 375, 164}, Kind::Preview},
    {{1000, 164, 76, 63, 36}, Kind::Button, 178},
    {{1140, 4, 183, 374, 12}, Kind::Slider},
    {{1172, 4, 195, 375, 31}, Kind::Group},
    {{1183, 94, 200, 32, 22}, Kind::Button, 254},
    {{1188, 130, 202, 24, 21}, Kind::Button, 326},
    {{1154, 155, 203, 21, 21}, Kind::Button, 320},
    {{1149, 178, 203, 23, 20}, Kind::Button, 321},
    {{1301, 205, 203, 21, 21}, Kind::Button, 322},
    {{1184, 277, 208, 100, 8}, Kind::Static, 0, "00:00:00:000 / 00:00:00:000"},
    {{1018, 4, 229, 102, 8}, Kind::Static},
    {{1019, 111, 229, 116, 9}, Kind::Static},
    {{1157, 221, 229, 96, 8}, Kind::Static},
    {{1023, 4, 242, 55, 14}, Kind::Edit},
    {{1024, 112, 242, 55, 14}, Kind::Edit},
    {{1025, 222, 243, 52, 13}, Kind::Sunken, 0, "00:00:00.000"},
    {{1004, 321, 231, 58, 25}, Kind::Button, 186},
    {{1255, 321, 51, 57, 32, false}, Kind::Button, 178},
    {{1254, 321, 87, 57, 33, false}, Kind::Button, 331},
    {{1099, 321, 124, 57, 40, false}, Kind::Button, 295},
};

// How a control follows the window as it grows past its first size: the
// share of the extra width and height it moves by and grows by. Controls
// not listed keep their place at the top left.
struct Growth {
    int id;
    double moveX, moveY, growX, growY;
};
const Growth kGrowth[] = {
    {1278, 1, 0, 0, 0},   {1105, 1, 0, 0, 0},                          // language, top right
    {1114, 0, 0, 1, 1},   {1139, 0, 0, 1, 1},                          // join list, preview
    {1000, 0.5, 0.5, 0, 0},                                            // Add, amid the preview
    {1140, 0, 1, 1, 0},   {1172, 0, 1, 1, 0},                          // timeline and its group
    {1183, 0, 1, 0, 0},   {1188, 0, 1, 0, 0},   {1154, 0, 1, 0, 0},   {1149, 0, 1, 0, 0},
    {1301, 0, 1, 0, 0},   {1308, 0, 1, 0, 0},   {1184, 0, 1, 0, 0},   {1302, 0, 1, 0, 0},   {1303, 0, 1, 0, 0},
    {1304, 0, 1, 0, 0},   {1305, 0, 1, 0, 0},                          // the group's contents
    {1018, 0, 1, 0, 0},   {1019, 0, 1, 0, 0},   {1157, 0, 1, 0, 0},   {1023, 0, 1, 0, 0},
    {1024, 0, 1, 0, 0},   {1025, 0, 1, 0, 0},                          // Start, End, Length
    {1004, 1, 1, 0, 0},                                                // Convert, bottom right
    {1255, 1, 0, 0, 0},   {1254, 1, 0, 0, 0},   {1099, 1, 0, 0, 0},    // the join list's buttons
    {1310, 0, 1, 0, 0},                                                // Cut all ticked files, below the list
};
const char* const kFirstPlace = "morvaneFirstPlace";
const QString kWindowSection = QStringLiteral("WINDOW");

const QColor kBackground(187, 222, 251);
const QColor kListBackground(241, 250, 233);
const QColor kButtonFace(240, 240, 240);

constexpr int kMainIcon = 266;
constexpr int kMergeId = 1099;

}  // namespace

QString GetAppFolderWithSlash(platform::AppFiles files)
{
    QString folder = platform::GetAppDirectory(files);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

CMorvaneDlg::CMorvaneDlg(QWidget* parent) : QDialog(parent)
{
    m_hIcon = resources::LoadIconResource(kMainIcon);
    m_joinRows.fill(-1);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(dialogs::DialogFont(kFontPoints));
    CreateControls();
    m_dlgProgress = new CAVConvertDlg(this);
    m_keyFrameScanner = new KeyFrameScanner(this);
    m_pictures = new PreviewWorker(this);
    m_runner = new JobRunner(this);
    connect(m_runner, &JobRunner::polled, this, &CMorvaneDlg::OnTimer);
    connect(m_runner, &JobRunner::finished, this, [this](bool ok, int) { OnJobFinished(ok); });
    setAcceptDrops(true);
    OnInitDialog();
    CreateQueueControls();
    RestoreWindowSize();
    qApp->installEventFilter(this);
}

CMorvaneDlg::~CMorvaneDlg()
{
    qApp->removeEventFilter(this);
    m_keyFrameScanner->Cancel();
    ReleaseJobRecord();
}

void CMorvaneDlg::CreateControls()
{
    const dialogs::DialogUnits units(font());
    m_firstSize = QSize(units.ToPixelsX(kWidthDlu), units.ToPixelsY(kHeightDlu));
    setMinimumSize(m_firstSize);
    resize(m_firstSize);

    for (const MainControl& control : kTemplate102) {
        QWidget* widget = nullptr;
        switch (control.kind) {
        case Kind::Tab:
            widget = m_tab = new QTabBar(this);
            m_tab->setDrawBase(false);
            break;
        case Kind::Link:
            widget = m_linkHelp = new CHyperLink(this);
            break;
        case Kind::Static:
        case Kind::Sunken: {
            auto* label = new QLabel(QString::fromLatin1(control.text), this);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(true);
            if (control.kind == Kind::Sunken)
                label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            widget = label;
            break;
        }
        case Kind::Combo:
            widget = m_comboLanguage = new QComboBox(this);
            break;
        case Kind::List:
            widget = m_listFiles = new CCheckListCtrl(this);
            break;
        case Kind::Preview:
            widget = m_preview = new CPreviewArea(this, this);
            break;
        case Kind::Button: {
            auto* button = new CControlButton(this);
            button->setAutoDefault(false);
            button->setFocusPolicy(Qt::TabFocus);
            widget = button;
            break;
        }
        case Kind::Slider:
            widget = m_slider = new CBitmapSlider(this);
            break;
        case Kind::Group:
            widget = new QGroupBox(this);
            break;
        case Kind::Edit:
            widget = new QLineEdit(this);
            break;
        }
        dialogs::PlaceControl(widget, control.place, units);
        if (control.kind == Kind::Static)
            dialogs::FitLineHeight(widget);
    }
    // A closed drop list is one line high; the template's height includes the list.
    m_comboLanguage->resize(m_comboLanguage->width(),
                            std::min(m_comboLanguage->sizeHint().height(), m_comboLanguage->height()));

    const auto button = [this](int id) { return dialogs::FindControl<CControlButton>(this, id); };
    m_btnAdd = button(1000);
    m_btnConvert = button(1004);
    m_btnMerge = button(1099);
    m_btnStartPoint = button(1154);
    m_btnEndPoint = button(1149);
    m_btnOpenFile = button(1183);
    m_btnPlay = button(1188);
    m_btnDelete = button(1254);
    m_btnAddFile = button(1255);
    m_btnAddSpan = button(1301);
    CreateSpanControls();
    CreatePlayControls();

    for (CControlButton* add : {m_btnAdd, m_btnOpenFile, m_btnAddFile})
        connect(add, &QPushButton::clicked, this, &CMorvaneDlg::OnAddFiles);
    connect(m_btnConvert, &QPushButton::clicked, this, &CMorvaneDlg::OnLaunchCut);
    connect(m_btnMerge, &QPushButton::clicked, this, &CMorvaneDlg::OnLaunchJoin);
    connect(m_btnStartPoint, &QPushButton::clicked, this, &CMorvaneDlg::OnStartPoint);
    connect(m_btnEndPoint, &QPushButton::clicked, this, &CMorvaneDlg::OnEndPoint);
    connect(m_btnPlay, &QPushButton::clicked, this, &CMorvaneDlg::OnPlay);
    connect(m_btnDelete, &QPushButton::clicked, this, &CMorvaneDlg::DeleteSelectedRow);
    connect(m_slider, &CBitmapSlider::sliderMoving, this, &CMorvaneDlg::OnSliderMoving);
    connect(m_slider, &CBitmapSlider::sliderMoved, this, &CMorvaneDlg::OnSliderMoved);
    // The picture buttons of the cut tab show where the keyboard is.
    for (CControlButton* button : {m_btnOpenFile, m_btnPlay, m_btnStartPoint, m_btnEndPoint, m_btnAddSpan, m_btnConvert})
        button->ShowFocusMark(true);
    for (const int field : {1023, 1024}) {
        connect(Edit(field), &QLineEdit::textChanged, this, &CMorvaneDlg::OnTimeTextChanged);
        // Only a time the user typed; leaving a field untouched moves nothing.
        connect(Edit(field), &QLineEdit::editingFinished, this, [this, field] {
            if (!Edit(field)->isModified())
                return;
            Edit(field)->setModified(false);
            OnTimeTyped(field);
        });
    }
    CreateTimelineScrollBar();
    // Only a choice the user makes; filling the list at start-up is no choice.
    connect(m_comboLanguage, &QComboBox::activated, this, &CMorvaneDlg::ApplyLanguageChoice);
}

bool CMorvaneDlg::OnInitDialog()
{
    setWindowIcon(m_hIcon);

    m_comboLanguage->clear();
    for (int i = 0; i < i18n::kLanguageCount; ++i)
        m_comboLanguage->insertItem(i, i18n::LanguageName(i));
    g_uiStrings.SetLanguage(i18n::ChosenLanguageFile());
    const auto& files = i18n::LanguageFileNames();
    const auto chosen = std::find(files.begin(), files.end(), g_uiStrings.Language());
    m_comboLanguage->setCurrentIndex(chosen == files.end() ? -1 : static_cast<int>(chosen - files.begin()));

    // The window brings its own light colours, so its texts come with them:
    // under a dark desktop theme white text would land on the light blue.
    m_brushBack = kBackground;
    QPalette colours(kButtonFace, m_brushBack);
    for (const QPalette::ColorRole kept : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(kept, palette().color(kept));
    setPalette(colours);
    setAutoFillBackground(true);

    const QString language = g_uiStrings.Language();
    m_tab->addTab(i18n::LanguageFile::ReadText(language, QStringLiteral("JIEMIAN"), QStringLiteral("spjq")));
    m_tab->addTab(i18n::LanguageFile::ReadText(language, QStringLiteral("JIEMIAN"), QStringLiteral("sphb")));
    connect(m_tab, &QTabBar::currentChanged, this, &CMorvaneDlg::OnTabChanged);

    SetUpFileList();
    ApplyLanguage();

    Edit(1023)->setText(kZeroTime);
    Edit(1024)->setText(kZeroTime);

    SetUpButtons();
    SetUpSlider();

    QPalette listColours = m_listFiles->palette();
    listColours.setColor(QPalette::Base, kListBackground);
    listColours.setColor(QPalette::AlternateBase, kListBackground);
    listColours.setColor(QPalette::Text, Qt::black);
    m_listFiles->setPalette(listColours);

    JoinChoice.width = 320;
    JoinChoice.height = 240;
    JoinChoice.video_bit_rate = 3000000;
    JoinChoice.audio_bit_rate = 192000;
    JoinChoice.sample_rate = 44100;
    JoinChoice.channels = 2;
    JoinChoice.fps_name = "29.97 fps";
    JoinChoice.video_codec_name = "MPEG4";
    JoinChoice.audio_codec_name = "AAC";
    return true;
}

void CMorvaneDlg::SetUpButtons()
{
    for (const MainControl& control : kTemplate102) {
        if (control.kind != Kind::Button)
            continue;
        auto* button = dialogs::FindControl<CControlButton>(this, control.place.id);
        if (control.place.id != kMergeId)
            button->SetRegionFromBitmap(control.bitmap);
        button->SetBitmaps(control.bitmap, control.bitmap, control.bitmap, control.bitmap);
    }
    m_btnConvert->setEnabled(true);
    m_btnMerge->setEnabled(true);
}

// The label before the language list ends where the template has it, but
// may start further left: the help link beside it leaves that room free.
void CMorvaneDlg::FitLanguageLabel()
{
    QLabel* label = Static(1278);
    const auto place = std::find_if(std::begin(kTemplate102), std::end(kTemplate102),
                                    [](const MainControl& control) { return control.place.id == 1278; });
    const QRect room = dialogs::DialogUnits(font()).ToPixels(place->place);
    const int need = label->fontMetrics().horizontalAdvance(label->text()) + 2 * label->margin() + 1;
    const int width = std::max(room.width(), need);
    SetFirstSizePlace(label, QRect(room.right() + 1 - width, room.y(), width, label->height()));
}

void CMorvaneDlg::SetFirstSizePlace(QWidget* control, const QRect& place)
{
    control->setProperty(kFirstPlace, place);
    LayOutControl(control);
}

void CMorvaneDlg::LayOutControl(QWidget* control)
{
    bool numbered = false;
    const int id = control->objectName().toInt(&numbered);
    const auto growth = std::find_if(std::begin(kGrowth), std::end(kGrowth),
                                     [id](const Growth& g) { return g.id == id; });
    if (!numbered || growth == std::end(kGrowth))
        return;
    // The place at the first size is taken once, before the window has grown.
    if (!control->property(kFirstPlace).isValid())
        control->setProperty(kFirstPlace, control->geometry());
    const QRect first = control->property(kFirstPlace).toRect();
    const int extraX = std::max(0, width() - m_firstSize.width());
    const int extraY = std::max(0, height() - m_firstSize.height());
    const auto share = [](double part, int extra) { return static_cast<int>(std::lround(part * extra)); };
    control->setGeometry(first.x() + share(growth->moveX, extraX), first.y() + share(growth->moveY, extraY),
                         first.width() + share(growth->growX, extraX), first.height() + share(growth->growY, extraY));
}

void CMorvaneDlg::LayOutControls()
{
    for (QWidget* control : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        LayOutControl(control);
    PlaceTimelineScrollBar();
}

void CMorvaneDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    LayOutControls();
}

// The last size (or maximised) from setting.ini; a size smaller than the
// first one, or unreadable, gives the first one.
void CMorvaneDlg::RestoreWindowSize()
{
    bool wide = false, high = false;
    const int w = i18n::ReadSetting(kWindowSection, QStringLiteral("width")).toInt(&wide);
    const int h = i18n::ReadSetting(kWindowSection, QStringLiteral("height")).toInt(&high);
    if (wide && high && w > 0 && h > 0 && w <= 16384 && h <= 16384)
        resize(QSize(w, h).expandedTo(m_firstSize));
    if (i18n::ReadSetting(kWindowSection, QStringLiteral("maximized")) == QLatin1String("1"))
        setWindowState(windowState() | Qt::WindowMaximized);
}

void CMorvaneDlg::RememberWindowSize()
{
    const bool maximized = isMaximized();
    // A maximised window keeps the size it returns to.
    const QSize size = maximized && normalGeometry().isValid() ? normalGeometry().size() : this->size();
    i18n::WriteSetting(kWindowSection, QStringLiteral("width"), QString::number(size.width()));
    i18n::WriteSetting(kWindowSection, QStringLiteral("height"), QString::number(size.height()));
    i18n::WriteSetting(kWindowSection, QStringLiteral("maximized"), maximized ? QStringLiteral("1") : QStringLiteral("0"));
}

QString CMorvaneDlg::OnToolTipText(int id) const
{
    switch (id) {
    case 1000:
    case 1183:
    case 1255: return Ui("HINT", "tjspwj");
    case 1004: return Ui("HINT", "ksjq");
    case 1023:
    case 1024: return Ui("HINT", "zjsrsjd");
    case 1099: return Ui("HINT", "hbcygwj");
    case 1140: return Ui("HINT", "djsbzj");
    case 1149: return Ui("HINT", "szjsjqd");
    case 1154: return Ui("HINT", "szksjqd");
    case 1301: return LanguageText("HINT", "tjpd");
    case 1302: return LanguageText("HINT", "pdlb");
    case 1303: return LanguageText("HINT", "pdsy");
    case 1304: return LanguageText("HINT", "pdxy");
    case 1305: return LanguageText("HINT", "pdsc");
    case 1188: return Ui("HINT", "bf");
    case 1308: return LanguageText("HINT", "ckbf");
    case 1254: return Ui("HINT", "sc");
    default: return QString();
    }
}

void CMorvaneDlg::OnTabChanged()
{
    const auto show = [this](std::initializer_list<int> ids, bool visible) {
        for (int id : ids)
            dialogs::FindControl(this, id)->setVisible(visible);
    };
    if (m_tab->currentIndex() == kCutTab) {
        show({1004}, true);
        show({1099}, false);
        show({1183}, true);
        show({1114}, false);
        show({1140, 1154, 1149, 1301, 1000}, true);
        show({1018, 1019, 1157, 1023, 1024, 1025, 1172, 1139, 1184, 1188, 1308}, true);
        if (!m_strCutFile.isEmpty())
            show({1000}, false);
        show({1254, 1255}, false);
        ShowSpanControls();
    } else {
        StopPlaying();
        show({1302, 1303, 1304, 1305}, false);
        show({1114, 1099}, true);
        show({1004, 1140, 1154, 1149, 1301, 1183}, false);
        show({1018, 1019, 1157, 1023, 1024, 1025, 1172, 1184, 1188, 1308, 1139, 1000}, false);
        show({1254, 1255}, true);
    }
    PlaceTimelineScrollBar();
    ShowQueueControls();
}

QLabel* CMorvaneDlg::Static(int id) const
{
    return dialogs::FindControl<QLabel>(this, id);
}

QLineEdit* CMorvaneDlg::Edit(int id) const
{
    return dialogs::FindControl<QLineEdit>(this, id);
}
