// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui_strings.h"

#include "language_file.h"
#include "language_keys.h"

namespace i18n {

UiStrings g_uiStrings;

UiStrings::UiStrings()
{
    for (const LanguageKey& entry : AllLanguageKeys())
        if (entry.kept_in_ui_strings)
            m_texts.emplace(Normalised(entry.section, entry.key), QString());
}

UiStrings::SlotKey UiStrings::Normalised(const QString& section, const QString& key)
{
    return {section.toUpper(), key.toLower()};
}

QString UiStrings::Text(const QString& section, const QString& key) const
{
    const auto slot = m_texts.find(Normalised(section, key));
    return slot == m_texts.end() ? QString() : slot->second;
}

void UiStrings::SetText(const QString& section, const QString& key, const QString& text)
{
    const auto slot = m_texts.find(Normalised(section, key));
    if (slot != m_texts.end())
        slot->second = text;
}

void UiStrings::LoadSlotsFromLanguageFile()
{
    for (const LanguageKey& entry : AllLanguageKeys())
        if (entry.kept_in_ui_strings)
            SetText(entry.section, entry.key,
                    LanguageFile::ReadText(m_language, entry.section, entry.key));
}

}  // namespace i18n
