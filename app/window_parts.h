// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the main window's files share: its texts in the current language,
// the time format of its fields, the join list's columns and the preview area.

#include "morvane_dlg.h"

#include "job_setup.h"
#include "language_file.h"
#include "ui_strings.h"

#include <QMetaType>
#include <QPainter>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

// A join list row's file as numbers and facts, kept on the row's first column.
Q_DECLARE_METATYPE(std::shared_ptr<const JoinRow>)

// The static with the black frame that shows the snapshot. It draws what its
// owner hands it; mouse presses fall through to the window (it is no target).
class CPreviewArea : public QWidget {
public:
    CPreviewArea(CMorvaneDlg* owner, QWidget* parent) : QWidget(parent), m_owner(owner)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(Qt::black);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
        m_owner->PaintSnapshot(painter, rect());
    }

private:
    CMorvaneDlg* m_owner;
};

namespace window_parts {

inline constexpr int kJoinRowRole = Qt::UserRole + 1;

inline const QString kZeroTime = QStringLiteral("00:00:00.000");

struct ListColumn {
    const char* key;
    int width;
};
inline constexpr ListColumn kColumns[] = {{"ywj", 185}, {"spgs", 60}, {"spcd", 90}, {"spdx", 70}, {"zl", 70}, {"zt", 60}};

inline QString Ui(const char* section, const char* key)
{
    return i18n::g_uiStrings.Text(QString::fromLatin1(section), QString::fromLatin1(key));
}

inline QString LanguageText(const char* section, const char* key)
{
    return i18n::LanguageFile::ReadText(i18n::g_uiStrings.Language(), QString::fromLatin1(section),
                                        QString::fromLatin1(key));
}

inline QString TimeText(long long ms)
{
    return QString::fromStdString(FormatTimeText(static_cast<int>(ms)));
}

// Marks a launch on the stack; a close asked for meanwhile runs at its end.
class LaunchScope {
public:
    LaunchScope(bool& launching, std::function<void()> atEnd) : m_launching(launching), m_atEnd(std::move(atEnd))
    {
        m_launching = true;
    }
    ~LaunchScope()
    {
        m_launching = false;
        m_atEnd();
    }
    LaunchScope(const LaunchScope&) = delete;
    LaunchScope& operator=(const LaunchScope&) = delete;

private:
    bool& m_launching;
    std::function<void()> m_atEnd;
};

}  // namespace window_parts
