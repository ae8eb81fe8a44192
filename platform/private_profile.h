// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Private-profile (INI) files with the semantics the program relies on:
// sections and keys are matched without regard to letter case, a missing
// file, section or key reads as the default, values come back cut to the
// caller's buffer, a value in double quotes reads without them, and the
// first of two equal keys is the one that counts. A write changes only the
// line of its entry (or adds one) and keeps every other byte of the file.
// Files are UTF-8.

#include <QByteArray>
#include <QString>

namespace platform {

// Only a regular file of at most this size is read: a FIFO would block the
// reader, a device or a runaway file would never end.
inline constexpr qint64 kMaxProfileFileBytes = 1 << 20;

enum class ProfileFileState {
    Missing,     // no such file: every entry reads as its default
    Usable,
    NotText,     // read, but holds NUL bytes or is not UTF-8: entries found still count
    NotAFile,    // a folder, FIFO, socket or device: not read
    TooLarge,    // not read
    Unreadable,  // no permission, or an error while reading
};

// True for the states that mean the file is there but damaged.
bool IsDamaged(ProfileFileState state);

// Reads the whole file at `path` without ever blocking; `data` is left
// empty unless the state is Usable or NotText.
ProfileFileState ReadProfileFile(const QString& path, QByteArray* data);

// The value of [section] key in the INI text `data`, as
// GetPrivateProfileString gives it.
QString ProfileStringFromData(const QByteArray& data, const QString& section, const QString& key,
                              const QString& defaultValue, int bufferChars);

// Returns the value of [section] key in the file at `path`, or `defaultValue`
// when the file, section or key is missing. Like a buffer of `bufferChars`
// characters, the result holds at most bufferChars - 1 characters.
QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, int bufferChars,
                                const QString& path, ProfileFileState* state = nullptr);

// Stores the value, creating the file, the section or the key as needed.
// The file is replaced atomically, so a failed write leaves the old file.
// A name or value holding a line break or NUL is refused (false): it would
// write lines of its own into the file. So is a file that is not read
// (ReadProfileFile: not a file, too large, unreadable): it is left as it is.
bool WritePrivateProfileString(const QString& section, const QString& key,
                               const QString& value, const QString& path);

}  // namespace platform
