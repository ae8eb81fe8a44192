// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Private-profile (INI) files with the semantics the program relies on:
// sections and keys are matched without regard to letter case, a missing
// file, section or key reads as the default, values come back cut to the
// caller's buffer, a value in double quotes reads without them, and the
// first of two equal keys is the one that counts. A write changes only the
// line of its entry (or adds one) and keeps every other byte of the file.
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
// A name or value holding a line break or NUL is refused (false): it would
// write lines of its own into the file.
bool WritePrivateProfileString(const QString& section, const QString& key,
                               const QString& value, const QString& path);

}  // namespace platform
