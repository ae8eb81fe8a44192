// SPDX-License-Identifier: GPL-3.0-or-later
#include "language_keys.h"

namespace i18n {
namespace {

void AddSection(std::vector<LanguageKey>& keys, const char* section,
                std::initializer_list<std::pair<const char*, bool>> entries)
{
    for (const auto& [key, kept] : entries)
        keys.push_back({QString::fromLatin1(section), QString::fromLatin1(key), kept});
}

std::vector<LanguageKey> BuildKeyList()
{
    constexpr bool kKept = true;
    constexpr bool kDialogOnly = false;
    std::vector<LanguageKey> keys;
    AddSection(keys, "APPLICATION", {{"name", kDialogOnly}, {"version", kDialogOnly}, {"url", kKept}});
    AddSection(keys, "TISHI", {
        {"wj", kKept}, {"wx", kKept}, {"qxtjsp", kKept}, {"zslgwj", kKept}, {"bnzjhb", kKept},
        {"wjwc", kKept}, {"wjwczg", kKept}, {"wj1", kKept}, {"sb", kKept}, {"wc", kKept},
        {"jqcg", kKept}, {"jqsb", kKept}, {"hbcg", kKept}, {"hbsb", kKept},
        {"mlbcz", kDialogOnly}, {"xsrwjm", kDialogOnly},
        // Direct copy refused: no container takes the file's codecs.
        {"zncxbm", kDialogOnly},
        // Refused spans and output files that cannot be written
        {"sjdwx", kDialogOnly}, {"cpym", kDialogOnly}, {"bncjwj", kDialogOnly},
        // Launch refusals, read by the main window when it refuses.
        {"zjjqwkzm", kDialogOnly}, {"zjhbwkzm", kDialogOnly}, {"hbtdwj", kDialogOnly},
        // Exact cuts
        {"jqjqbz", kDialogOnly},
        // Tracks a job left out; direct joins of files whose tracks differ
        {"ylgd", kDialogOnly}, {"gdyp", kDialogOnly}, {"gdzm", kDialogOnly}, {"gdsj", kDialogOnly},
        {"gdfj", kDialogOnly}, {"gdsp", kDialogOnly}, {"gdbt", kDialogOnly}, {"gdwj", kDialogOnly},
        // Settings or language files that could not be used
        {"wjsh", kDialogOnly}});
    AddSection(keys, "JIEMIAN", {
        {"yy", kKept}, {"zysybrj", kDialogOnly}, {"ksjq", kKept}, {"jsjq", kDialogOnly},
        {"jqsj", kDialogOnly}, {"spjq", kKept}, {"sphb", kKept}, {"ywj", kKept}, {"spgs", kKept},
        {"spcd", kKept}, {"spdx", kKept}, {"zl", kKept}, {"zt", kKept}, {"zb", kKept},
        {"symtwj", kKept}, {"sywj", kKept}, {"dqwj", kDialogOnly}, {"zgwj", kDialogOnly},
        {"tz", kDialogOnly}, {"yzfa", kDialogOnly}, {"zjjq", kDialogOnly}, {"jjjq", kDialogOnly},
        {"zjhb", kDialogOnly}, {"jjhb", kDialogOnly}, {"spzl", kDialogOnly}, {"ypzl", kDialogOnly},
        {"ypcyl", kDialogOnly}, {"zyzjjq", kDialogOnly}, {"zyzjhb", kDialogOnly},
        {"scml", kDialogOnly}, {"ll", kDialogOnly}, {"wjm", kDialogOnly}, {"ksjq1", kDialogOnly},
        {"kshb", kDialogOnly}, {"ywjyy", kDialogOnly}, {"hbhwj", kDialogOnly},
        // Exact cuts
        {"jqjq", kDialogOnly}});
    AddSection(keys, "HINT", {
        {"tjspwj", kKept}, {"ksjq", kKept}, {"hbcygwj", kKept}, {"sc", kKept}, {"bf", kKept},
        {"szksjqd", kKept}, {"szjsjqd", kKept}, {"zjsrsjd", kKept}, {"djsbzj", kKept}});
    return keys;
}

}  // namespace

const std::vector<LanguageKey>& AllLanguageKeys()
{
    static const std::vector<LanguageKey> keys = BuildKeyList();
    return keys;
}

}  // namespace i18n
