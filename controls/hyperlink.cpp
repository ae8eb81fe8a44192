// SPDX-License-Identifier: GPL-3.0-or-later
#include "hyperlink.h"

#include "seams.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QStringList>
#include <QTimerEvent>

namespace {

constexpr int kStartedProgram = 33;  // what a successful program start reports

bool StartBrowserCommand(const QString& address)
{
    if (platform::StartProgram(QStringLiteral("xdg-open"), {address}))
        return true;
    // $BROWSER is a colon-separated list of commands; %s stands for the address.
    const QString browsers = qEnvironmentVariable("BROWSER");
    for (const QString& command : browsers.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        QStringList words = QProcess::splitCommand(command);
        if (words.isEmpty())
            continue;
        bool placed = false;
        for (QString& word : words)
            if (word.contains(QLatin1String("%s"))) {
                word.replace(QLatin1String("%s"), address);
                placed = true;
            }
        if (!placed)
            words << address;
        const QString program = words.takeFirst();
        if (platform::StartProgram(program, words))
            return true;
    }
    return false;
}

}  // namespace

int OpenHyperlink(const QString& address)
{
    const int shellResult = platform::ShellOpen(address);
    if (shellResult > 32)
        return shellResult;
    return StartBrowserCommand(address) ? kStartedProgram : shellResult;
}

QString HyperlinkErrorText(int code)
{
    switch (code) {
    case 0: return QStringLiteral("The operating system is out\nof memory or resources.");
    case 2: return QStringLiteral("The specified file was not found.");
    case 3: return QStringLiteral("The specified path was not found.");
    case 5: return QStringLiteral("The operating system denied\naccess to the specified file.");
    case 8: return QStringLiteral("There was not enough memory to complete the operation.");
    case 11: return QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
    case 26: return QStringLiteral("A sharing violation occurred. ");
    case 27: return QStringLiteral("The filename association is\nincomplete or invalid.");
    case 28: return QStringLiteral("The DDE transaction could not\nbe completed because the request timed out.");
    case 29: return QStringLiteral("The DDE transaction failed.");
    case 30: return QStringLiteral("The DDE transaction could not\nbe completed because other DDE transactions\n"
                                   "were being processed.");
    case 31: return QStringLiteral("There is no application associated\nwith the given filename extension.");
    case 32: return QStringLiteral("The specified dynamic-link library was not found.");
    default: return QStringLiteral("Unknown Error (%1) occurred.").arg(code);
    }
}

QString HyperlinkErrorMessage(int code)
{
    return QStringLiteral("Unable to open hyperlink:\n\n") + HyperlinkErrorText(code);
}

CHyperLink::CHyperLink(QWidget* parent) : QLabel(parent)
{
    // A plain static's text sits at the top left.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setCursor(Qt::PointingHandCursor);
    setMouseTracking(true);
    MakeFonts();
}

void CHyperLink::MakeFonts()
{
    m_fontNormal = font();
    m_fontNormal.setUnderline(false);
    m_fontUnderlined = m_fontNormal;
    m_fontUnderlined.setUnderline(true);
    const bool underlined = m_underlineMode == UnderlineAlways || (m_underlineMode == UnderlineHover && m_over);
    m_currentFont = underlined ? m_fontUnderlined : m_fontNormal;
}

// A link without an address opens, and shows as tool tip, its own text; a
// link without text shows its address.
QString CHyperLink::Target() const
{
    return m_url.isEmpty() ? text() : m_url;
}

void CHyperLink::SetURL(const QString& url)
{
    m_url = url;
    if (text().isEmpty())
        setText(url);
    setToolTip(Target());
    PositionWindow();
}

void CHyperLink::SetUnderline(int mode)
{
    if (mode == m_underlineMode)
        return;
    m_underlineMode = mode;
    UseFont(mode == UnderlineAlways ? m_fontUnderlined : m_fontNormal);
}

void CHyperLink::SetColours(const QColor& link, const QColor& visited, const QColor& hover)
{
    m_colorLink = link;
    m_colorVisited = visited;
    m_colorHover = hover;
    update();
}

void CHyperLink::SetAutoSize(bool adjustToFit)
{
    m_adjustToFit = adjustToFit;
    PositionWindow();
}

QColor CHyperLink::CurrentTextColour() const
{
    if (m_over)
        return m_colorHover;
    return m_visited ? m_colorVisited : m_colorLink;
}

void CHyperLink::UseFont(const QFont& font)
{
    m_currentFont = font;
    update();
}

void CHyperLink::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_over) {
        m_over = true;
        if (m_underlineMode == UnderlineHover)
            m_currentFont = m_fontUnderlined;
        update();
        m_hoverTimer.start(kHoverCheckMs, this);
    }
    QLabel::mouseMoveEvent(event);
}

void CHyperLink::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_hoverTimer.timerId()) {
        QLabel::timerEvent(event);
        return;
    }
    if (!rect().contains(mapFromGlobal(QCursor::pos())))
        EndHover();
}

// Leaving is also seen directly, so the hover look never outlives the mouse.
void CHyperLink::leaveEvent(QEvent* event)
{
    if (m_over)
        EndHover();
    QLabel::leaveEvent(event);
}

void CHyperLink::EndHover()
{
    m_over = false;
    m_hoverTimer.stop();
    if (m_underlineMode != UnderlineAlways)
        m_currentFont = m_fontNormal;
    update();
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        OnClicked();
    QLabel::mouseReleaseEvent(event);
}

void CHyperLink::OnClicked()
{
    m_over = false;
    m_hoverTimer.stop();
    const int result = OpenHyperlink(Target());
    m_visited = result > 32;
    update();
    if (!m_visited) {
        QApplication::beep();
        platform::ShowMessageBox({this, HyperlinkErrorMessage(result), QString(),
                                  platform::MessageIcon::Warning});
    }
    emit clicked();
}

void CHyperLink::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        MakeFonts();
        PositionWindow();
    }
    QLabel::changeEvent(event);
}

// Fits the window to its text, measured underlined, keeping the edge (or
// centre) that the alignment anchors.
void CHyperLink::PositionWindow()
{
    if (!m_adjustToFit)
        return;
    const QFontMetrics metrics(m_fontUnderlined);
    const QSize textSize = metrics.size(Qt::TextSingleLine, text());
    const QSize frame = size() - contentsRect().size();
    const QSize fitted = textSize + frame;
    QRect area = geometry();
    const QPoint oldCentre = area.center();
    const int oldRight = area.right();
    area.setSize(fitted);
    if (alignment() & Qt::AlignVCenter)
        area.moveTop(oldCentre.y() - fitted.height() / 2);
    if (alignment() & Qt::AlignHCenter)
        area.moveLeft(oldCentre.x() - fitted.width() / 2);
    else if (alignment() & Qt::AlignRight)
        area.moveRight(oldRight);
    setGeometry(area);
}

void CHyperLink::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    painter.setPen(CurrentTextColour());
    painter.setFont(m_currentFont);
    painter.drawText(contentsRect(), static_cast<int>(alignment()) | Qt::TextSingleLine, text());
}
