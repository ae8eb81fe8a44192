#pragma once
// Private-profile (INI) files with the semantics the program relies on:
// sections and keys are matched without regard to letter case, a missing
// file, section or key reads as the default, values come back cut to the
// caller's buffer, a value in double quotes reads without them, and a write
// keeps every other entry of the file.
// Files are UTF-8.

#include <QString>

namespace platform {

// Returns the value of [section] key in the file at `path`, or `defaultValue`
// when the file, section or key is missing. Like a buffer of `bufferChars`
// characters, the result holds at most bufferChars - 1 characters.
QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, int bufferChars,
                                const QString& path);

// Stores the value, creating the file, the section or the key as needed.
// The file is replaced atomically, so a failed write leaves the old file.
bool WritePrivateProfileString(const QString& section, const QString& key,
                               const QString& value, const QString& path);

}  // namespace platform
