// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A static text that acts as a web link: link colours, an underline while
// hovered (or always), a hand cursor, its address as tool tip, and a click
// that opens the address, with a browser fallback and an error message.

#include <QBasicTimer>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

// "Unable to open hyperlink:\n\n" + the text for a shell-open error code.
QString HyperlinkErrorMessage(int code);
QString HyperlinkErrorText(int code);

class CHyperLink : public QLabel {
    Q_OBJECT

public:
    enum UnderlineMode { UnderlineHover = -1, UnderlineNever = 0, UnderlineAlways = 1 };

    explicit CHyperLink(QWidget* parent = nullptr);

    void SetURL(const QString& url);
    QString GetURL() const { return m_url; }
    void SetUnderline(int mode);
    void SetColours(const QColor& link, const QColor& visited, const QColor& hover);
    void SetAutoSize(bool adjustToFit);

    bool IsVisited() const { return m_visited; }
    bool IsHovered() const { return m_over; }
    QColor CurrentTextColour() const;
    bool IsUnderlined() const { return m_currentFont.underline(); }

    static constexpr int kHoverCheckMs = 100;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void OnClicked();
    void EndHover();
    void UseFont(const QFont& font);
    void MakeFonts();
    void PositionWindow();
    QString Target() const;

    QColor m_colorLink{0, 0, 238};
    QColor m_colorVisited{85, 26, 139};
    QColor m_colorHover{255, 0, 0};
    bool m_over = false;
    bool m_visited = false;
    int m_underlineMode = UnderlineHover;
    bool m_adjustToFit = true;
    QString m_url;
    QFont m_fontNormal;
    QFont m_fontUnderlined;
    QFont m_currentFont;
    QBasicTimer m_hoverTimer;
};

// Opens an address: the desktop first, then xdg-open, then $BROWSER. Returns
// a shell-open code, above 32 on success.
int OpenHyperlink(const QString& address);
