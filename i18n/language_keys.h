// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sections and keys every language file holds.

#include <QString>

#include <vector>

namespace i18n {

struct LanguageKey {
    QString section;
    QString key;
    bool kept_in_ui_strings;  // one of the 37 slots of UiStrings
};

// Every key of APPLICATION, TISHI, JIEMIAN and HINT, in file order.
const std::vector<LanguageKey>& AllLanguageKeys();

}  // namespace i18n
