// SPDX-License-Identifier: GPL-3.0-or-later
// Span lists of one file: what "remove these" leaves to keep, and the list
// files other tools read and write (EDL, CSV, chapter metadata, chapter
// text) beside our own small project file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One span of a cut, in milliseconds of the file.
struct CutSpan {
    int64_t start_ms = 0;
    int64_t end_ms = 0;
};

// The first span of `spans` (but `skip`) that shares time with `span`, or -1.
int FindOverlappingSpan(const std::vector<CutSpan>& spans, const CutSpan& span, int skip = -1);

// Whether a file's spans mark what to keep (as a cut always did) or what
// to remove from it.
enum class SpanMeaning { Keep, Remove };

// The parts of a file of `length_ms` that removing `removed` leaves, in
// order. Removed spans may overlap, touch, come in any order or reach past
// either end of the file: they are merged and clipped. Kept parts shorter
// than `min_part_ms` (less than a picture) are dropped with what surrounds
// them. False, with `why` in a few words, when nothing would be left or the
// length is unknown.
bool KeptPartsAfterRemoving(const std::vector<CutSpan>& removed, int64_t length_ms, int64_t min_part_ms,
                            std::vector<CutSpan>* kept, std::string* why);

// Where a direct copy of `part` really starts and ends: at the key picture
// at or before its start (times in ms from the file's start, ascending),
// lasting as long as the part. The part itself without key pictures.
CutSpan PartAtKeyPictures(const CutSpan& part, const std::vector<int64_t>& key_ms);

// One line of a list: a span and what the list calls it.
struct CutListEntry {
    int64_t start_ms = 0;
    int64_t end_ms = 0;
    std::string name;
};

enum class CutListFormat {
    Edl,          // "start end action", seconds; action 0 or 3 removes
    Csv,          // "start,end,name", seconds or [[h:]m:]s times
    FfMetadata,   // ";FFMETADATA1" with [CHAPTER] sections
    ChapterText,  // "00:01:02 Title", one chapter a line, each to the next
    Project,      // our own: the spans and whether they keep or remove
};

struct CutList {
    std::vector<CutListEntry> entries;
    // What the list itself says its spans mean: an EDL lists what goes, a
    // project file says; other formats leave it to the reader.
    bool meaning_known = false;
    SpanMeaning meaning = SpanMeaning::Keep;
    std::string media;  // project file: the video's file name
};

// Why a list could not be read: the line (from 1; 0 for the whole list)
// and what is wrong with it.
struct CutListError {
    int line = 0;
    std::string what;
    std::string Text() const;  // "line 3: the end is before the start"
};

// The format of a list file, from its first line, else its extension.
CutListFormat GuessCutListFormat(const std::string& path, const std::string& text);
// The format an extension names (".edl", ".csv", ".ffmeta", ".txt",
// ".spans"); false for any other.
bool CutListFormatOfExtension(const std::string& path, CutListFormat* format);
const char* CutListExtension(CutListFormat format);

// Reads `text` in `format`. A chapter runs to the next one; the last to
// `length_ms` (when known, else the list is refused). False with `error`
// naming the first bad line.
bool ReadCutList(const std::string& text, CutListFormat format, int64_t length_ms, CutList* list,
                 CutListError* error);
std::string WriteCutList(const CutList& list, CutListFormat format);

// The list's spans for a cut, in time order; names dropped.
std::vector<CutSpan> SpansOfList(const CutList& list);
CutList ListOfSpans(const std::vector<CutSpan>& spans, SpanMeaning meaning, const std::string& media);

// A file's list read whole; false with `error` (line 0) when it cannot be read.
bool ReadCutListFile(const std::string& path, int64_t length_ms, CutList* list, CutListError* error);
// Writes `text` to `path`, which must not exist yet: an existing list is
// never replaced. 0, or the errno value (EEXIST when it exists).
int WriteNewListFile(const std::string& path, const std::string& text);
// Writes `text` over `path`, through a new file renamed into place, so a
// failure leaves the old list as it was. For a replacement the user agreed to.
int ReplaceListFile(const std::string& path, const std::string& text);

// The project file beside a video: "clip.ts" -> "clip.ts.spans".
std::string ProjectFileFor(const std::string& video_path);
