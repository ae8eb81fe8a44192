// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the cut and join settings dialogs have in common: their templates as
// tables of controls with caption keys, the fixed choice lists, and the
// reading of the current language file.

#include "dialog_template.h"

#include <QString>
#include <QStringList>

#include <vector>

class QComboBox;
class QDialog;

namespace dialogs {

enum class SettingsKind { Label, Radio, DropList, HiddenDropList, ReadOnlyEdit, Edit, Button, DefaultButton, Group };

struct SettingsControl {
    ControlPlace place;  // group boxes have no id: 0
    SettingsKind kind;
    const char* key;     // JIEMIAN caption key, "" for none
};

using SettingsTemplate = std::vector<SettingsControl>;

// Creates the controls of `table` on `dialog`, frames first, so they stay
// beneath the controls they surround.
void BuildSettingsTemplate(QDialog* dialog, const SettingsTemplate& table);
// The captions of the table's labels, radios and buttons from the JIEMIAN
// section of `language`.
void ApplyCaptions(QDialog* dialog, const SettingsTemplate& table, const QString& language);

// Empties `list` and fills it with `entries`, selecting `selected`.
void FillList(QComboBox* list, const QStringList& entries, int selected);

// The seven format texts, in list order.
QStringList FormatTexts();

// LANGUAGE/file of setting.ini, and one text of that language file.
QString CurrentLanguage();
QString LanguageText(const QString& language, const char* section, const char* key);

}  // namespace dialogs
