// SPDX-License-Identifier: GPL-3.0-or-later
#include "private_profile.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// One line of the file as byte offsets: its text runs from `begin` to
// `textEnd`, its line break (if any) from `textEnd` to `end`.
struct Line {
    int begin;
    int textEnd;
    int end;
};

// Where an entry sits: the first section of that name and the first key of
// that name inside it, as the platform's own lookup finds them.
struct Place {
    int sectionLine = -1;
    int lastFilledLine = -1;  // the section's last line that is not blank
    int keyLine = -1;
    int valueBegin = 0;       // byte offset of the value in keyLine
};

std::vector<Line> SplitLines(const QByteArray& data)
{
    std::vector<Line> lines;
    int begin = 0;
    while (begin < data.size()) {
        int newline = data.indexOf('\n', begin);
        const int end = newline < 0 ? static_cast<int>(data.size()) : newline + 1;
        int textEnd = newline < 0 ? end : newline;
        if (textEnd > begin && data.at(textEnd - 1) == '\r')
            --textEnd;
        lines.push_back({begin, textEnd, end});
        begin = end;
    }
    return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A line's text without a leading byte-order mark and outer blanks.
QByteArray TrimmedText(const QByteArray& data, const Line& line, int* textBegin = nullptr)
{
    int begin = line.begin;
    if (begin == 0 && data.startsWith("\xEF\xBB\xBF"))
        begin = 3;
    while (begin < line.textEnd && IsBlank(data.at(begin)))
        ++begin;
    int end = line.textEnd;
    while (end > begin && IsBlank(data.at(end - 1)))
        --end;
    if (textBegin)
        *textBegin = begin;
    return data.mid(begin, end - begin);
}

bool SameName(const QByteArray& stored, const QString& wanted)
{
    return QString::fromUtf8(stored.trimmed()).compare(wanted, Qt::CaseInsensitive) == 0;
}

// "[name]" gives name; anything else is no section header.
bool SectionHeader(const QByteArray& text, QByteArray* name)
{
    if (!text.startsWith('['))
        return false;
    const int close = text.indexOf(']');
    if (close < 0)
        return false;
    *name = text.mid(1, close - 1);
    return true;
}

Place Locate(const QByteArray& data, const std::vector<Line>& lines, const QString& section, const QString& key)
{
    Place place;
    bool inSection = false;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
        int textBegin = 0;
        const QByteArray text = TrimmedText(data, lines[i], &textBegin);
        QByteArray name;
        if (SectionHeader(text, &name)) {
            if (inSection)
                break;  // a later section of the same name is never looked at
            inSection = SameName(name, section);
            if (inSection)
                place.sectionLine = place.lastFilledLine = i;
            continue;
        }
        if (!inSection || text.isEmpty())
            continue;
        place.lastFilledLine = i;
        const int equals = text.indexOf('=');
        if (place.keyLine >= 0 || text.startsWith(';') || equals < 0 || !SameName(text.left(equals), key))
            continue;
        place.keyLine = i;
        int valueBegin = textBegin + equals + 1;
        while (valueBegin < lines[i].textEnd && IsBlank(data.at(valueBegin)))
            ++valueBegin;
        place.valueBegin = valueBegin;
    }
    return place;
}

QString StoredValue(const QByteArray& data, const Line& line, int valueBegin)
{
    QByteArray value = data.mid(valueBegin, line.textEnd - valueBegin);
    // A NUL ends the text, as it ends a string in a caller's buffer.
    const int nul = value.indexOf('\0');
    if (nul >= 0)
        value.truncate(nul);
    while (!value.isEmpty() && IsBlank(value.back()))
        value.chop(1);
    return QString::fromUtf8(value);
}

QString CutToBuffer(const QString& value, int bufferChars)
{
    const int maxChars = bufferChars > 0 ? bufferChars - 1 : 0;
    if (value.size() <= maxChars)
        return value;
    int cut = maxChars;
    // Never leave half of a surrogate pair at the end.
    if (cut > 0 && value.at(cut - 1).isHighSurrogate())
        --cut;
    return value.left(cut);
}

bool HasQuotesAround(const QString& value)
{
    return value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"'));
}

// A value written as "text" reads as text, which is how a value keeps
// leading or trailing spaces that are otherwise trimmed.
QString WithoutEnclosingQuotes(const QString& value)
{
    return HasQuotesAround(value) ? value.mid(1, value.size() - 2) : value;
}

// The form that reads back as `value`.
QByteArray EncodedValue(const QString& value)
{
    const bool outerBlank = !value.isEmpty() && (IsBlank(value.front().toLatin1()) || IsBlank(value.back().toLatin1()));
    const QByteArray utf8 = value.toUtf8();
    return outerBlank || HasQuotesAround(value) ? '"' + utf8 + '"' : utf8;
}

// A line break or NUL inside a name or value would write lines of its own
// into the file, or end its text early.
bool WritesOneLine(const QString& text)
{
    return !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')) && !text.contains(QChar(0));
}

ProfileFileState StateOfFile(const struct stat& st)
{
    if (!S_ISREG(st.st_mode))
        return ProfileFileState::NotAFile;
    return st.st_size > kMaxProfileFileBytes ? ProfileFileState::TooLarge : ProfileFileState::Usable;
}

// Reads until the end or one byte past the cap, so a file that grows while
// it is read is caught too.
ProfileFileState ReadCapped(int fd, QByteArray* data)
{
    QByteArray bytes;
    char chunk[64 * 1024];
    while (bytes.size() <= kMaxProfileFileBytes) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return ProfileFileState::Unreadable;
        if (got == 0)
            break;
        bytes.append(chunk, got);
    }
    if (bytes.size() > kMaxProfileFileBytes)
        return ProfileFileState::TooLarge;
    *data = bytes;
    return ProfileFileState::Usable;
}

bool IsText(const QByteArray& data)
{
    if (data.contains('\0'))
        return false;
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(data);  // hasError answers only after a decode
    Q_UNUSED(decoded);
    return !utf8.hasError();
}

}  // namespace

bool IsDamaged(ProfileFileState state)
{
    return state != ProfileFileState::Missing && state != ProfileFileState::Usable;
}

ProfileFileState ReadProfileFile(const QString& path, QByteArray* data)
{
    data->clear();
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (stat(name.constData(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? ProfileFileState::Missing : ProfileFileState::Unreadable;
    if (StateOfFile(st) != ProfileFileState::Usable)
        return StateOfFile(st);
    // O_NONBLOCK: the path may have become a FIFO since the look.
    const int fd = open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT ? ProfileFileState::Missing : ProfileFileState::Unreadable;
    ProfileFileState state = fstat(fd, &st) == 0 ? StateOfFile(st) : ProfileFileState::Unreadable;
    if (state == ProfileFileState::Usable)
        state = ReadCapped(fd, data);
    close(fd);
    if (state == ProfileFileState::Usable && !IsText(*data))
        state = ProfileFileState::NotText;
    return state;
}

QString ProfileStringFromData(const QByteArray& data, const QString& section, const QString& key,
                              const QString& defaultValue, int bufferChars)
{
    QString text = defaultValue;
    const std::vector<Line> lines = SplitLines(data);
    const Place place = Locate(data, lines, section, key);
    if (place.keyLine >= 0)
        text = WithoutEnclosingQuotes(StoredValue(data, lines[place.keyLine], place.valueBegin));
    return CutToBuffer(text, bufferChars);
}

namespace {

// Whether a write may go ahead, with the file's present bytes.
bool ReadForWrite(const QString& path, QByteArray* data)
{
    const ProfileFileState state = ReadProfileFile(path, data);
    return state == ProfileFileState::Missing || state == ProfileFileState::Usable ||
           state == ProfileFileState::NotText;
}

}  // namespace

QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, int bufferChars,
                                const QString& path, ProfileFileState* state)
{
    QByteArray data;
    const ProfileFileState read = ReadProfileFile(path, &data);
    if (state)
        *state = read;
    return ProfileStringFromData(data, section, key, defaultValue, bufferChars);
}

bool WritePrivateProfileString(const QString& section, const QString& key,
                               const QString& value, const QString& path)
{
    if (section.trimmed().isEmpty() || key.trimmed().isEmpty() || section.contains(QLatin1Char(']')) ||
        key.contains(QLatin1Char('=')) || !WritesOneLine(section) || !WritesOneLine(key) || !WritesOneLine(value))
        return false;
    QByteArray data;
    if (!ReadForWrite(path, &data))
        return false;  // better to write nothing than to lose it, or to wait on a FIFO

    const std::vector<Line> lines = SplitLines(data);
    const QByteArray lineBreak = !lines.empty() && lines[0].end - lines[0].textEnd == 2 ? "\r\n" : "\n";
    const auto endLine = [&](int at) {
        // The file's last line may lack its break; it needs one before anything follows.
        if (at == static_cast<int>(data.size()) && !data.isEmpty() && !data.endsWith('\n')) {
            data.append(lineBreak);
            return at + static_cast<int>(lineBreak.size());
        }
        return at;
    };
    const Place place = Locate(data, lines, section, key);
    const QByteArray entry = key.trimmed().toUtf8() + '=' + EncodedValue(value);
    if (place.keyLine >= 0) {
        const Line& line = lines[place.keyLine];
        data.replace(place.valueBegin, line.textEnd - place.valueBegin, EncodedValue(value));
    } else if (place.sectionLine >= 0) {
        const int at = endLine(lines[place.lastFilledLine].end);
        data.insert(at, entry + lineBreak);
    } else {
        endLine(static_cast<int>(data.size()));
        data.append('[' + section.trimmed().toUtf8() + ']' + lineBreak + entry + lineBreak);
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(data);
    return file.commit();
}

}  // namespace platform
