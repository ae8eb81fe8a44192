// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The texts of the current language that the main window and the job code
// need at any moment: messages, tooltips, status words and list headers.

#include <QString>

#include <map>
#include <utility>

namespace i18n {

class UiStrings {
public:
    UiStrings();

    // The current language file name (no folder), e.g. "english.ini".
    const QString& Language() const { return m_language; }
    void SetLanguage(const QString& fileName) { m_language = fileName; }

    // The slot's text; "" for a key that is no slot or before the first load.
    QString Text(const QString& section, const QString& key) const;
    void SetText(const QString& section, const QString& key, const QString& text);

    // Fills every slot from the language file named by the language slot.
    void LoadSlotsFromLanguageFile();

    int SlotCount() const { return static_cast<int>(m_texts.size()); }

private:
    using SlotKey = std::pair<QString, QString>;  // section and key, upper- and lower-cased
    static SlotKey Normalised(const QString& section, const QString& key);

    QString m_language;
    std::map<SlotKey, QString> m_texts;
};

// The one table of the process.
extern UiStrings g_uiStrings;

}  // namespace i18n
