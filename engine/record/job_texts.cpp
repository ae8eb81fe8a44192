// SPDX-License-Identifier: GPL-3.0-or-later
// The texts of a job's settings: times, rates, picture sizes, file titles
// and names, read as the window and the tool write them.
#include "job_setup.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace {

// Reads an integer the way a C string-to-integer conversion does: leading
// white space, a sign, then digits up to the first other character.
constexpr long long kMaxTimeField = 360000000000LL;  // 100 million hours in ms

long long LeadingInteger(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kMaxTimeField)
            value = kMaxTimeField;  // saturate: no sum below can overflow
    }
    return negative ? -value : value;
}

std::string TwoDigits(long long v)
{
    return (v <= 9 ? "0" : "") + std::to_string(v);
}

}  // namespace

std::string FormatTimeText(int64_t ms)
{
    const int r = ms % 1000;
    std::string millis = r == 0 ? "000" : r <= 9 ? "00" + std::to_string(r)
                                         : r <= 99 ? "0" + std::to_string(r)
                                                   : std::to_string(r);
    const long long h = ms / 3600000;
    const long long s = ms / 1000 - h * 3600;
    return TwoDigits(h) + ":" + TwoDigits(s / 60) + ":" + TwoDigits(s % 60) + "." + millis;
}

int64_t ParseTimeText(const std::string& text)
{
    const size_t first_colon = text.find(':');
    const size_t last_colon = text.rfind(':');
    const size_t first_dot = text.find('.');
    long long hours = 0, minutes = 0;
    if (first_colon != std::string::npos) {
        hours = LeadingInteger(text.substr(0, first_colon));
        minutes = LeadingInteger(text.substr(first_colon + 1, 2));
    }
    const long long seconds =
        LeadingInteger(last_colon == std::string::npos ? text : text.substr(last_colon + 1));
    const long long millis =
        LeadingInteger(first_dot == std::string::npos ? text : text.substr(first_dot + 1));
    return (hours * 3600 + minutes * 60 + seconds) * 1000 + millis;
}

bool ReadTimeText(const std::string& text, int64_t* ms)
{
    size_t begin = 0, end = text.size();
    while (begin < end && text[begin] == ' ')
        ++begin;
    while (end > begin && text[end - 1] == ' ')
        --end;
    const std::string t = text.substr(begin, end - begin);
    const size_t dot = t.find('.');
    const std::string whole = t.substr(0, dot);
    long long fraction = 0;
    if (dot != std::string::npos) {
        const std::string digits = t.substr(dot + 1);
        if (digits.empty() || digits.size() > 3)
            return false;
        for (const char c : digits) {
            if (c < '0' || c > '9')
                return false;
            fraction = fraction * 10 + (c - '0');
        }
        for (size_t n = digits.size(); n < 3; ++n)
            fraction *= 10;
    }
    std::vector<long long> fields;
    size_t from = 0;
    for (;;) {
        const size_t colon = whole.find(':', from);
        const std::string field = whole.substr(from, colon == std::string::npos ? std::string::npos : colon - from);
        if (field.empty() || field.size() > 12)
            return false;
        long long value = 0;
        for (const char c : field) {
            if (c < '0' || c > '9')
                return false;
            value = value * 10 + (c - '0');
        }
        fields.push_back(value);
        if (colon == std::string::npos)
            break;
        from = colon + 1;
    }
    if (fields.size() > 3)
        return false;
    long long total = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0 && fields[i] >= 60)
            return false;
        total = total * 60 + fields[i];
        if (total > kMaxTimeField / 1000)
            return false;
    }
    *ms = total * 1000 + fraction;
    return true;
}

std::string FileExtension(const std::string& path)
{
    const size_t dot = path.rfind('.');
    return dot == std::string::npos ? path : path.substr(dot + 1);
}

std::string FileExtensionWithDot(const std::string& path)
{
    const size_t dot = path.rfind('.');
    return dot == std::string::npos ? path : path.substr(dot);
}

std::string FileNameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool FileExists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::u8path(path), ec);
}

std::string MakeUniqueOutputName(const std::string& name,
                                 const std::function<bool(const std::string&)>& exists)
{
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    std::string candidate = name;
    for (int counter = 0; exists(candidate); ++counter)
        candidate = stem + "(" + std::to_string(counter) + ")" + ext;
    return candidate;
}

std::string MakeUniqueOutputName(const std::string& name)
{
    return MakeUniqueOutputName(name, [](const std::string& p) { return FileExists(p); });
}

bool FpsNameToValue(const std::string& name, double* value)
{
    static const struct {
        const char* name;
        double value;
    } kRates[] = {
        {"8.0 fps", 8},       {"10.0 fps", 10},     {"12.0 fps", 12}, {"14.985 fps", 14.985},
        {"15.0 fps", 15},     {"20.0 fps", 20},     {"23.975 fps", 23.975},
        {"24.0 fps", 24},     {"25.0 fps", 25},     {"29.97 fps", 29.97},
        {"30.0 fps", 30},     {"50.0 fps", 50},     {"60.0 fps", 60},
    };
    for (const auto& r : kRates) {
        if (name == r.name) {
            *value = r.value;
            return true;
        }
    }
    return false;
}

int ParseRateText(const std::string& text)
{
    size_t at = text.find(" kbps");
    if (at != std::string::npos)
        return static_cast<int>(std::strtod(text.substr(0, at).c_str(), nullptr) * 1000);
    at = text.find(" Hz");
    if (at != std::string::npos)
        return static_cast<int>(LeadingInteger(text.substr(0, at)));
    return 0;
}

bool ParseSizeText(const std::string& text, int* width, int* height)
{
    const size_t star = text.find('*');
    if (star == std::string::npos || star == 0 || star + 1 >= text.size())
        return false;
    *width = static_cast<int>(LeadingInteger(text.substr(0, star)));
    *height = static_cast<int>(LeadingInteger(text.substr(star + 1)));
    return true;
}

std::string CleanFileTitle(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (std::string_view("/\\:*?<>|@").find(c) == std::string_view::npos)
            out += c;
    }
    return out;
}

std::string FormatExtension(const std::string& entry_text)
{
    const size_t dot = entry_text.rfind('.');
    return dot == std::string::npos ? "" : entry_text.substr(dot, 4);
}
