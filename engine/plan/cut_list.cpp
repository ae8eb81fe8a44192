// SPDX-License-Identifier: GPL-3.0-or-later
#include "cut_list.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "job_setup.h"

namespace {

constexpr const char* kProjectMagic = "morvane-spans";
constexpr int kProjectVersion = 1;
// A list is a few lines a break; anything this large is not one.
constexpr std::streamoff kMaxListBytes = 8 << 20;

bool Fail(CutListError* error, int line, const std::string& what)
{
    if (error) {
        error->line = line;
        error->what = what;
    }
    return false;
}

std::string Trim(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return "";
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    if (!lines.empty() && lines[0].rfind("\xEF\xBB\xBF", 0) == 0)  // a byte-order mark
        lines[0].erase(0, 3);
    return lines;
}

bool AllDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "[[h:]m:]s[.fraction]" in milliseconds, rounded; any number of fraction
// digits (lists write two to six). No sign, no exponent.
bool ReadListTime(const std::string& text, int64_t* ms)
{
    std::string whole = text, fraction;
    const auto dot = text.find('.');
    if (dot != std::string::npos) {
        whole = text.substr(0, dot);
        fraction = text.substr(dot + 1);
        if (!AllDigits(fraction))
            return false;
    }
    std::vector<std::string> fields;
    std::istringstream in(whole);
    for (std::string f; std::getline(in, f, ':');)
        fields.push_back(f);
    if (whole.empty() || whole.back() == ':' || fields.empty() || fields.size() > 3)
        return false;
    int64_t seconds = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (!AllDigits(fields[i]) || fields[i].size() > 12)
            return false;
        const int64_t v = std::stoll(fields[i]);
        if (i > 0 && v >= 60)
            return false;
        seconds = seconds * 60 + v;
    }
    double frac = 0;
    if (!fraction.empty())
        frac = std::strtod(("0." + fraction).c_str(), nullptr);
    *ms = seconds * 1000 + std::llround(frac * 1000);
    return true;
}

std::string SecondsText(int64_t ms)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld.%03lld", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return buf;
}

std::string ClockText(int64_t ms)
{
    const int64_t s = ms / 1000;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
    std::string text = buf;
    if (ms % 1000) {
        std::snprintf(buf, sizeof buf, ".%03lld", static_cast<long long>(ms % 1000));
        text += buf;
    }
    return text;
}

// A span read from a line: it must end after it starts.
bool AddEntry(CutList* list, int64_t start, int64_t end, std::string name, int line, CutListError* error)
{
    if (end <= start)
        return Fail(error, line, "the span ends at or before its start");
    list->entries.push_back({start, end, std::move(name)});
    return true;
}

// Chapters give starts only: each ends where the next begins, the last at
// the file's end.
bool CloseChapters(CutList* list, const std::vector<int>& lines, int64_t length_ms, CutListError* error)
{
    for (size_t i = 0; i < list->entries.size(); ++i) {
        CutListEntry& e = list->entries[i];
        if (e.end_ms >= 0)
            continue;
        if (i + 1 < list->entries.size())
            e.end_ms = list->entries[i + 1].start_ms;
        else if (length_ms > 0)
            e.end_ms = length_ms;
        else
            return Fail(error, lines[i], "the last chapter has no end and the file's length is unknown");
        if (e.end_ms <= e.start_ms)
            return Fail(error, lines[i], "the chapter starts at or after the file's end");
    }
    return true;
}

bool ReadEdl(const std::vector<std::string>& lines, CutList* list, CutListError* error)
{
    list->meaning_known = true;
    list->meaning = SpanMeaning::Remove;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string line = Trim(lines[i]);
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream in(line);
        std::string start, end, action = "0", extra;
        in >> start >> end;
        if (!(in >> action))
            action = "0";
        const int n = static_cast<int>(i) + 1;
        if (in >> extra || end.empty())
            return Fail(error, n, "expected \"start end action\"");
        int64_t s = 0, e = 0;
        if (!ReadListTime(start, &s) || !ReadListTime(end, &e))
            return Fail(error, n, "a time is not a number of seconds");
        if (!AllDigits(action) || action.size() > 1 || action[0] > '3')
            return Fail(error, n, "the action is not 0, 1, 2 or 3");
        // 0 skips and 3 marks an advertising break: both leave the span out;
        // 1 mutes and 2 marks a scene, which a cut has no use for.
        if ((action == "0" || action == "3") && !AddEntry(list, s, e, "", n, error))
            return false;
    }
    return true;
}

// One CSV line's fields, with "quoted, fields" and "" for a quote.
bool CsvFields(const std::string& line, std::vector<std::string>* fields)
{
    fields->assign(1, "");
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"')
                fields->back() += '"', ++i;
            else if (c == '"')
                quoted = false;
            else
                fields->back() += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields->push_back("");
        } else {
            fields->back() += c;
        }
    }
    return !quoted;
}

bool ReadCsv(const std::vector<std::string>& lines, CutList* list, CutListError* error)
{
    bool first = true;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int n = static_cast<int>(i) + 1;
        if (Trim(lines[i]).empty())
            continue;
        std::vector<std::string> f;
        if (!CsvFields(lines[i], &f))
            return Fail(error, n, "a quoted name is not closed");
        int64_t s = 0, e = 0;
        const bool times = f.size() >= 2 && ReadListTime(Trim(f[0]), &s) && ReadListTime(Trim(f[1]), &e);
        const bool was_first = first;
        first = false;
        if (!times && was_first)
            continue;  // a heading such as "start,end,name"
        if (f.size() < 2 || f.size() > 3)
            return Fail(error, n, "expected \"start,end,name\"");
        if (!times)
            return Fail(error, n, "a time is neither seconds nor hours:minutes:seconds");
        if (!AddEntry(list, s, e, f.size() == 3 ? Trim(f[2]) : "", n, error))
            return false;
    }
    return true;
}

std::string UnescapeMetadata(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i)
        out += s[i] == '\\' && i + 1 < s.size() ? s[++i] : s[i];
    return out;
}

std::string EscapeMetadata(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '=' || c == ';' || c == '#' || c == '\\' || c == '\n')
            out += '\\';
        out += c;
    }
    return out;
}

// Chapter times count in units of the chapter's TIMEBASE ("1/1000");
// without one, in nanoseconds as the format's reader assumes.
bool ReadMetadataTime(const std::string& value, int64_t num, int64_t den, int64_t* ms)
{
    if (!AllDigits(value) || value.size() > 18)
        return false;
    const long double t = std::stoll(value) * static_cast<long double>(num) * 1000 / den;
    *ms = std::llround(static_cast<double>(t));
    return true;
}

bool ReadFfMetadata(const std::vector<std::string>& lines, int64_t length_ms, CutList* list,
                    CutListError* error)
{
    if (lines.empty() || Trim(lines[0]) != ";FFMETADATA1")
        return Fail(error, 1, "the first line is not \";FFMETADATA1\"");
    struct Raw { int line = 0; int64_t num = 1, den = 1000000000; std::string start, end, title; };
    std::vector<Raw> chapters;
    bool in_chapter = false;
    for (size_t i = 1; i < lines.size(); ++i) {
        const int n = static_cast<int>(i) + 1;
        const std::string line = Trim(lines[i]);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            in_chapter = line == "[CHAPTER]";
            if (in_chapter)
                { Raw c; c.line = n; chapters.push_back(c); }
            continue;
        }
        if (!in_chapter)
            continue;  // tags of the file or a stream
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            return Fail(error, n, "expected \"key=value\"");
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        Raw& c = chapters.back();
        if (key == "TIMEBASE") {
            const auto slash = value.find('/');
            if (slash == std::string::npos || !AllDigits(value.substr(0, slash)) ||
                !AllDigits(value.substr(slash + 1)) || value.size() > 20)
                return Fail(error, n, "TIMEBASE is not \"number/number\"");
            c.num = std::stoll(value.substr(0, slash));
            c.den = std::stoll(value.substr(slash + 1));
            if (c.num <= 0 || c.den <= 0)
                return Fail(error, n, "TIMEBASE is not \"number/number\"");
        } else if (key == "START") {
            c.start = value;
        } else if (key == "END") {
            c.end = value;
        } else if (key == "title") {
            c.title = UnescapeMetadata(value);
        }
    }
    std::vector<int> at;
    for (const Raw& c : chapters) {
        int64_t s = 0, e = -1;
        if (!ReadMetadataTime(c.start, c.num, c.den, &s))
            return Fail(error, c.line, "the chapter has no START time");
        if (!c.end.empty() && !ReadMetadataTime(c.end, c.num, c.den, &e))
            return Fail(error, c.line, "the chapter's END is not a number");
        if (e >= 0 && e <= s)
            return Fail(error, c.line, "the chapter ends at or before its start");
        list->entries.push_back({s, e, c.title});
        at.push_back(c.line);
    }
    return CloseChapters(list, at, length_ms, error);
}

bool ReadChapterText(const std::vector<std::string>& lines, int64_t length_ms, CutList* list,
                     CutListError* error)
{
    std::vector<int> at;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int n = static_cast<int>(i) + 1;
        const std::string line = Trim(lines[i]);
        if (line.empty())
            continue;
        const auto end = line.find_first_of(" \t");
        int64_t start = 0;
        if (!ReadListTime(line.substr(0, end), &start) || line.find(':') > end)
            return Fail(error, n, "the line does not start with a time such as 00:01:02");
        std::string title = end == std::string::npos ? "" : Trim(line.substr(end));
        // "00:01:02 - Title" and "00:01:02 – Title" are written too.
        for (const char* dash : {"- ", "\xE2\x80\x93 "})
            if (title.rfind(dash, 0) == 0)
                title = Trim(title.substr(std::string(dash).size()));
        if (!list->entries.empty() && start <= list->entries.back().start_ms)
            return Fail(error, n, "the chapter does not start after the one before it");
        list->entries.push_back({start, -1, title});
        at.push_back(n);
    }
    return CloseChapters(list, at, length_ms, error);
}

bool ReadProject(const std::vector<std::string>& lines, CutList* list, CutListError* error)
{
    bool versioned = false;
    list->meaning_known = true;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int n = static_cast<int>(i) + 1;
        const std::string line = Trim(lines[i]);
        if (line.empty() || line[0] == '#')
            continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            return Fail(error, n, "expected \"key=value\"");
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == kProjectMagic) {
            if (value != std::to_string(kProjectVersion))
                return Fail(error, n, "a span list of a later version");
            versioned = true;
        } else if (!versioned) {
            return Fail(error, n, "not a span list (it does not start with \"morvane-spans=1\")");
        } else if (key == "media") {
            list->media = value;
        } else if (key == "meaning") {
            if (value != "keep" && value != "remove")
                return Fail(error, n, "the meaning is neither \"keep\" nor \"remove\"");
            list->meaning = value == "keep" ? SpanMeaning::Keep : SpanMeaning::Remove;
        } else if (key == "span") {
            std::istringstream in(value);
            std::string start, end, name;
            in >> start >> end;
            std::getline(in, name);
            int64_t s = 0, e = 0;
            if (!ReadListTime(start, &s) || !ReadListTime(end, &e))
                return Fail(error, n, "expected \"span=START END name\"");
            if (!AddEntry(list, s, e, Trim(name), n, error))
                return false;
        }  // keys of a later version are passed over
    }
    return versioned || Fail(error, 0, "not a span list (it does not start with \"morvane-spans=1\")");
}

std::string OneLine(const std::string& name)
{
    std::string out = name;
    std::replace(out.begin(), out.end(), '\n', ' ');
    std::replace(out.begin(), out.end(), '\r', ' ');
    return out;
}

std::string CsvField(const std::string& name)
{
    const std::string one = OneLine(name);
    if (one.find_first_of(",\"") == std::string::npos && Trim(one) == one)
        return one;
    std::string out = "\"";
    for (char c : one)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string Lowercase(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

}  // namespace

std::string CutListError::Text() const
{
    return line > 0 ? "line " + std::to_string(line) + ": " + what : what;
}

bool CutListFormatOfExtension(const std::string& path, CutListFormat* format)
{
    const std::string ext = Lowercase(FileExtension(FileNameOf(path)));
    if (FileNameOf(path).find('.') == std::string::npos)
        return false;
    if (ext == "edl")
        *format = CutListFormat::Edl;
    else if (ext == "csv")
        *format = CutListFormat::Csv;
    else if (ext == "ffmeta" || ext == "ffmetadata" || ext == "meta")
        *format = CutListFormat::FfMetadata;
    else if (ext == "txt")
        *format = CutListFormat::ChapterText;
    else if (ext == "spans")
        *format = CutListFormat::Project;
    else
        return false;
    return true;
}

const char* CutListExtension(CutListFormat format)
{
    switch (format) {
    case CutListFormat::Edl: return ".edl";
    case CutListFormat::Csv: return ".csv";
    case CutListFormat::FfMetadata: return ".ffmeta";
    case CutListFormat::ChapterText: return ".txt";
    case CutListFormat::Project: return ".spans";
    }
    return "";
}

CutListFormat GuessCutListFormat(const std::string& path, const std::string& text)
{
    const std::vector<std::string> lines = Lines(text);
    const std::string first = lines.empty() ? "" : Trim(lines[0]);
    if (first == ";FFMETADATA1")
        return CutListFormat::FfMetadata;
    if (first.rfind(std::string(kProjectMagic) + "=", 0) == 0 || first.rfind("# Morvane", 0) == 0)
        return CutListFormat::Project;
    CutListFormat format;
    if (CutListFormatOfExtension(path, &format))
        return format;
    if (first.find(',') != std::string::npos)
        return CutListFormat::Csv;
    return first.find(':') != std::string::npos ? CutListFormat::ChapterText : CutListFormat::Edl;
}

bool ReadCutList(const std::string& text, CutListFormat format, int64_t length_ms, CutList* list,
                 CutListError* error)
{
    *list = CutList{};
    if (text.find('\0') != std::string::npos)
        return Fail(error, 0, "not a text file");
    const std::vector<std::string> lines = Lines(text);
    bool ok = false;
    switch (format) {
    case CutListFormat::Edl: ok = ReadEdl(lines, list, error); break;
    case CutListFormat::Csv: ok = ReadCsv(lines, list, error); break;
    case CutListFormat::FfMetadata: ok = ReadFfMetadata(lines, length_ms, list, error); break;
    case CutListFormat::ChapterText: ok = ReadChapterText(lines, length_ms, list, error); break;
    case CutListFormat::Project: ok = ReadProject(lines, list, error); break;
    }
    if (ok && list->entries.empty())
        return Fail(error, 0, "the list holds no span");
    return ok;
}

std::string WriteCutList(const CutList& list, CutListFormat format)
{
    std::string out;
    switch (format) {
    case CutListFormat::Edl:
        for (const CutListEntry& e : list.entries)
            out += SecondsText(e.start_ms) + "\t" + SecondsText(e.end_ms) + "\t0\n";
        break;
    case CutListFormat::Csv:
        out = "start,end,name\n";
        for (const CutListEntry& e : list.entries)
            out += SecondsText(e.start_ms) + "," + SecondsText(e.end_ms) + "," + CsvField(e.name) + "\n";
        break;
    case CutListFormat::FfMetadata:
        out = ";FFMETADATA1\n";
        for (const CutListEntry& e : list.entries)
            out += "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + std::to_string(e.start_ms) +
                   "\nEND=" + std::to_string(e.end_ms) + "\ntitle=" + EscapeMetadata(OneLine(e.name)) + "\n";
        break;
    case CutListFormat::ChapterText:
        for (const CutListEntry& e : list.entries)
            out += ClockText(e.start_ms) + (e.name.empty() ? "" : " " + OneLine(e.name)) + "\n";
        break;
    case CutListFormat::Project:
        out = std::string(kProjectMagic) + "=" + std::to_string(kProjectVersion) + "\n";
        out += "media=" + OneLine(list.media) + "\n";
        out += std::string("meaning=") + (list.meaning == SpanMeaning::Remove ? "remove" : "keep") + "\n";
        for (const CutListEntry& e : list.entries)
            out += "span=" + FormatTimeText(e.start_ms) + " " + FormatTimeText(e.end_ms) +
                   (e.name.empty() ? "" : " " + OneLine(e.name)) + "\n";
        break;
    }
    return out;
}

std::vector<CutSpan> SpansOfList(const CutList& list)
{
    std::vector<CutSpan> spans;
    for (const CutListEntry& e : list.entries)
        spans.push_back({e.start_ms, e.end_ms});
    std::stable_sort(spans.begin(), spans.end(),
                     [](const CutSpan& a, const CutSpan& b) { return a.start_ms < b.start_ms; });
    return spans;
}

CutList ListOfSpans(const std::vector<CutSpan>& spans, SpanMeaning meaning, const std::string& media)
{
    CutList list;
    list.meaning_known = true;
    list.meaning = meaning;
    list.media = media;
    for (const CutSpan& s : spans)
        list.entries.push_back({s.start_ms, s.end_ms, ""});
    return list;
}

bool ReadCutListFile(const std::string& path, int64_t length_ms, CutList* list, CutListError* error)
{
    std::ifstream in(path, std::ios::binary);
    struct stat st {};
    if (!in || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return Fail(error, 0, "the list cannot be read");
    if (st.st_size > kMaxListBytes)
        return Fail(error, 0, "the file is too large to be a list");
    std::ostringstream text;
    text << in.rdbuf();
    const std::string body = text.str();
    return ReadCutList(body, GuessCutListFormat(path, body), length_ms, list, error);
}

