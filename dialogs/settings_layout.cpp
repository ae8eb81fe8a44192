// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings_layout.h"

#include "job_setup.h"
#include "language_file.h"
#include "settings_file.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

namespace dialogs {
namespace {

// The whole template rectangle takes the click, not only the circle and the
// words, as the platform's radio buttons do.
class TemplateRadioButton : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

}  // namespace

void BuildSettingsTemplate(QDialog* dialog, const SettingsTemplate& table)
{
    const DialogUnits units(dialog->font());
    for (const SettingsControl& control : table) {
        if (control.kind != SettingsKind::Group)
            continue;
        auto* frame = new QGroupBox(dialog);
        frame->setGeometry(units.ToPixels(control.place));
    }
    for (const SettingsControl& control : table) {
        QWidget* widget = nullptr;
        switch (control.kind) {
        case SettingsKind::Group:
            continue;
        case SettingsKind::Label: {
            auto* label = new QLabel(dialog);
            label->setWordWrap(true);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = label;
            break;
        }
        case SettingsKind::Radio:
            widget = new TemplateRadioButton(dialog);
            break;
        case SettingsKind::DropList:
        case SettingsKind::HiddenDropList:
            widget = new QComboBox(dialog);
            break;
        case SettingsKind::ReadOnlyEdit:
        case SettingsKind::Edit: {
            auto* edit = new QLineEdit(dialog);
            edit->setReadOnly(control.kind == SettingsKind::ReadOnlyEdit);
            widget = edit;
            break;
        }
        case SettingsKind::Button:
        case SettingsKind::DefaultButton: {
            auto* button = new QPushButton(dialog);
            button->setAutoDefault(false);
            button->setDefault(control.kind == SettingsKind::DefaultButton);
            widget = button;
            break;
        }
        }
        PlaceControl(widget, control.place, units);
        if (control.kind == SettingsKind::Label)
            FitLineHeight(widget);
        if (control.kind == SettingsKind::HiddenDropList)
            widget->hide();
        // A closed drop list is one line high; the template's height includes the list.
        if (auto* list = qobject_cast<QComboBox*>(widget))
            list->resize(list->width(), std::min(list->sizeHint().height(), list->height()));
    }
}

void ApplyCaptions(QDialog* dialog, const SettingsTemplate& table, const QString& language)
{
    for (const SettingsControl& control : table) {
        if (!*control.key)
            continue;
        const QString caption = LanguageText(language, "JIEMIAN", control.key);
        QWidget* widget = FindControl(dialog, control.place.id);
        if (auto* label = qobject_cast<QLabel*>(widget))
            label->setText(caption);
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            button->setText(caption);
    }
}

void FillList(QComboBox* list, const QStringList& entries, int selected)
{
    list->clear();
    list->addItems(entries);
    list->setCurrentIndex(selected);
}

QStringList FormatTexts()
{
    QStringList texts;
    for (const FormatEntry& entry : FormatTable)
        texts << QString::fromLatin1(entry.text);
    return texts;
}

QString CurrentLanguage()
{
    return i18n::ReadSetting(QStringLiteral("LANGUAGE"), QStringLiteral("file"));
}

QString LanguageText(const QString& language, const char* section, const char* key)
{
    return i18n::LanguageFile::ReadText(language, QString::fromLatin1(section), QString::fromLatin1(key));
}

}  // namespace dialogs
