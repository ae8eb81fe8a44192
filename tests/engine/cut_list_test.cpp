// SPDX-License-Identifier: GPL-3.0-or-later
// Span lists: what removing spans leaves, and list files in and out.
#include "cut_list.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

std::string Spans(const std::vector<CutSpan>& spans)
{
    std::string out;
    for (const CutSpan& s : spans)
        out += std::to_string(s.start_ms) + "-" + std::to_string(s.end_ms) + " ";
    return out;
}

TEST(RemovingSpans, LeavesTheComplementOverTheFilesLength)
{
    struct Case {
        std::vector<CutSpan> removed;
        int64_t min_part_ms;
        const char* kept;
    } cases[] = {
        {{{10000, 20000}}, 0, "0-10000 20000-60000 "},
        {{{40000, 50000}, {10000, 20000}}, 0, "0-10000 20000-40000 50000-60000 "},  // any order
        {{{10000, 20000}, {15000, 30000}}, 0, "0-10000 30000-60000 "},               // overlapping
        {{{10000, 20000}, {20000, 30000}}, 0, "0-10000 30000-60000 "},               // touching
        {{{-5000, 10000}, {55000, 90000}}, 0, "10000-55000 "},                       // past either end
        {{{70000, 80000}}, 0, "0-60000 "},                                           // wholly outside
        {{}, 0, "0-60000 "},
        {{{0, 10000}, {10020, 60000}}, 40, ""},                 // a part shorter than a picture goes
        {{{100, 10000}}, 200, "10000-60000 "},
    };
    for (const Case& c : cases) {
        std::vector<CutSpan> kept;
        std::string why;
        const bool ok = KeptPartsAfterRemoving(c.removed, 60000, c.min_part_ms, &kept, &why);
        EXPECT_EQ(Spans(kept), c.kept) << why;
        EXPECT_EQ(ok, *c.kept != '\0');
    }
}

TEST(RemovingSpans, RefusesWithAReason)
{
    std::vector<CutSpan> kept;
    std::string why;
    EXPECT_FALSE(KeptPartsAfterRemoving({{0, 30000}, {29000, 60000}}, 60000, 0, &kept, &why));
    EXPECT_EQ(why, "the spans remove the whole file");
    EXPECT_FALSE(KeptPartsAfterRemoving({{0, 1000}, {5000, 4000}}, 60000, 0, &kept, &why));
    EXPECT_EQ(why, "span 2 ends at or before its start");
    EXPECT_FALSE(KeptPartsAfterRemoving({{0, 1000}}, 0, 0, &kept, &why));
    EXPECT_EQ(why, "the file's length is unknown");
}

TEST(RemovingSpans, ADirectCopyOfAPartStartsAtTheKeyPictureBeforeIt)
{
    const std::vector<int64_t> keys = {0, 2000, 4000, 6000};
    struct Case { CutSpan part, real; } cases[] = {
        {{2500, 3500}, {2000, 3000}},
        {{4000, 9000}, {4000, 9000}},
        {{9000, 9500}, {6000, 6500}},
    };
    for (const Case& c : cases) {
        const CutSpan real = PartAtKeyPictures(c.part, keys);
        EXPECT_EQ(real.start_ms, c.real.start_ms);
        EXPECT_EQ(real.end_ms, c.real.end_ms);
    }
    EXPECT_EQ(PartAtKeyPictures({500, 900}, {1000}).start_ms, 1000);  // none before: the first
}

CutList Sample()
{
    CutList list;
    list.entries = {{0, 61500, "Opening, part \"one\""}, {61500, 125250, "News"}, {125250, 3723004, "Weather"}};
    list.meaning_known = true;
    list.meaning = SpanMeaning::Remove;
    list.media = "recording.ts";
    return list;
}

TEST(CutListFiles, EveryFormatReadsBackWhatItWrote)
{
    const CutList sample = Sample();
    struct Case { CutListFormat format; bool names; } cases[] = {
        {CutListFormat::Edl, false},          {CutListFormat::Csv, true},
        {CutListFormat::FfMetadata, true},    {CutListFormat::ChapterText, true},
        {CutListFormat::Project, true},
    };
    for (const Case& c : cases) {
        const std::string text = WriteCutList(sample, c.format);
        CutList back;
        CutListError error;
        ASSERT_TRUE(ReadCutList(text, c.format, 3723004, &back, &error)) << error.Text() << "\n" << text;
        EXPECT_EQ(GuessCutListFormat(std::string("list") + CutListExtension(c.format), text), c.format);
        ASSERT_EQ(back.entries.size(), sample.entries.size()) << text;
        for (size_t i = 0; i < back.entries.size(); ++i) {
            EXPECT_EQ(back.entries[i].start_ms, sample.entries[i].start_ms) << text;
            EXPECT_EQ(back.entries[i].end_ms, sample.entries[i].end_ms) << text;
            EXPECT_EQ(back.entries[i].name, c.names ? sample.entries[i].name : "") << text;
        }
        if (c.format == CutListFormat::Project) {
            EXPECT_EQ(back.media, "recording.ts");
            EXPECT_EQ(back.meaning, SpanMeaning::Remove);
        }
    }
}

TEST(CutListFiles, ReadsWhatOtherToolsWrite)
{
    struct Case {
        CutListFormat format;
        const char* text;
        const char* spans;
    } cases[] = {
        // A detector's EDL: two decimals, tabs, a muted part and a scene mark passed over.
        {CutListFormat::Edl, "0.00\t12.34\t0\n# note\n100.5 200.25 3\n300 301 1\n400 400 2\n", "0-12340 100500-200250 "},
        {CutListFormat::Edl, "5 9\n", "5000-9000 "},
        {CutListFormat::Csv, "Start,End,Name\r\n0:10,1:00.5,intro\r\n\r\n1:00:00,1:00:30\r\n",
         "10000-60500 3600000-3630000 "},
        {CutListFormat::FfMetadata,
         ";FFMETADATA1\ntitle=Film\n\n[CHAPTER]\nTIMEBASE=1/90000\nSTART=90000\nEND=180000\ntitle=a\\=b\n"
         "[STREAM]\ntitle=x\n[CHAPTER]\nSTART=3000000000\nEND=4000000000\n",
         "1000-2000 3000-4000 "},
        {CutListFormat::ChapterText, "\xEF\xBB\xBF" "0:00 Intro\n01:02 - Part two\n1:00:00.5 \xE2\x80\x93 End\n",
         "0-62000 62000-3600500 3600500-3700000 "},
    };
    for (const Case& c : cases) {
        CutList list;
        CutListError error;
        ASSERT_TRUE(ReadCutList(c.text, c.format, 3700000, &list, &error)) << error.Text() << "\n" << c.text;
        EXPECT_EQ(Spans(SpansOfList(list)), c.spans) << c.text;
    }
}

TEST(CutListFiles, ABadListNamesItsLine)
{
    struct Case {
        CutListFormat format;
        const char* text;
        const char* error;
    } cases[] = {
        {CutListFormat::Edl, "1 2 0\n3 x 0\n", "line 2: a time is not a number of seconds"},
        {CutListFormat::Edl, "1 2 0\n\n5 4 0\n", "line 3: the span ends at or before its start"},
        {CutListFormat::Edl, "1 2 7\n", "line 1: the action is not 0, 1, 2 or 3"},
        {CutListFormat::Edl, "-1 2 0\n", "line 1: a time is not a number of seconds"},
        {CutListFormat::Edl, "1 2 0 9\n", "line 1: expected \"start end action\""},
        {CutListFormat::Csv, "start,end\n1,2\n3,4,a,b\n", "line 3: expected \"start,end,name\""},
        {CutListFormat::Csv, "1,2\nx,4\n", "line 2: a time is neither seconds nor hours:minutes:seconds"},
        {CutListFormat::Csv, "1,2,\"open\n", "line 1: a quoted name is not closed"},
        {CutListFormat::FfMetadata, "title=x\n", "line 1: the first line is not \";FFMETADATA1\""},
        {CutListFormat::FfMetadata, ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/0\n", "line 3: TIMEBASE is not \"number/number\""},
        {CutListFormat::FfMetadata, ";FFMETADATA1\n[CHAPTER]\nEND=5\n", "line 2: the chapter has no START time"},
        {CutListFormat::ChapterText, "00:00 a\n00:10 b\n00:05 c\n", "line 3: the chapter does not start after the one before it"},
        {CutListFormat::ChapterText, "00:00 a\nsee the video\n", "line 2: the line does not start with a time such as 00:01:02"},
        {CutListFormat::ChapterText, "00:00 a\n00:61 b\n", "line 2: the line does not start with a time such as 00:01:02"},
        {CutListFormat::ChapterText, "00:00 a\n2:00:00 b\n", "line 2: the chapter starts at or after the file's end"},
        {CutListFormat::Project, "span=0 1\n", "line 1: not a span list (it does not start with \"morvane-spans=1\")"},
        {CutListFormat::Project, "morvane-spans=2\n", "line 1: a span list of a later version"},
        {CutListFormat::Project, "morvane-spans=1\nmeaning=maybe\n", "line 2: the meaning is neither \"keep\" nor \"remove\""},
        {CutListFormat::Edl, "# nothing\n", "the list holds no span"},
    };
    for (const Case& c : cases) {
        CutList list;
        CutListError error;
        EXPECT_FALSE(ReadCutList(c.text, c.format, 3600000, &list, &error)) << c.text;
        EXPECT_EQ(error.Text(), c.error) << c.text;
    }
    CutList list;
    CutListError error;
    EXPECT_FALSE(ReadCutList(std::string("1 2 0\n\0\0", 8), CutListFormat::Edl, 0, &list, &error));
    EXPECT_EQ(error.Text(), "not a text file");
}

TEST(CutListFiles, AnExistingListIsNeverReplacedUnlessAsked)
{
    const std::string path = ::testing::TempDir() + "/cut_list_test.edl";
    std::remove(path.c_str());
    ASSERT_EQ(WriteNewListFile(path, "1 2 0\n"), 0);
    EXPECT_EQ(WriteNewListFile(path, "3 4 0\n"), EEXIST);
    CutList list;
    CutListError error;
    ASSERT_TRUE(ReadCutListFile(path, 0, &list, &error)) << error.Text();
    EXPECT_EQ(Spans(SpansOfList(list)), "1000-2000 ");
    ASSERT_EQ(ReplaceListFile(path, "3 4 0\n"), 0);
    ASSERT_TRUE(ReadCutListFile(path, 0, &list, &error));
    EXPECT_EQ(Spans(SpansOfList(list)), "3000-4000 ");
    EXPECT_NE(WriteNewListFile(::testing::TempDir() + "/no/such/folder.edl", "1 2 0\n"), 0);
    EXPECT_FALSE(ReadCutListFile(::testing::TempDir() + "/no/such/list.edl", 0, &list, &error));
    EXPECT_EQ(error.Text(), "the list cannot be read");
    std::remove(path.c_str());
}

}  // namespace
