// SPDX-License-Identifier: GPL-3.0-or-later
// AV1 packets as an exact cut reads them: where the units are, whether the
// picture is a key frame decoded there, the sequence headers of the av1C
// record; damaged packets read as nothing, never past their end.
#include <gtest/gtest.h>

#include "coded_units.h"

#include <string>
#include <vector>

namespace {

// Units with size fields: a temporal delimiter, a sequence header, frames.
const Bytes kDelimiter = {0x12, 0x00};
const Bytes kSequenceHeader = {0x0a, 0x03, 0x00, 0x00, 0x00};
const Bytes kKeyFrame = {0x32, 0x02, 0x10, 0xff};         // frame_type 0
const Bytes kInterFrame = {0x32, 0x02, 0x30, 0xff};       // frame_type 1
const Bytes kShownAgain = {0x32, 0x02, 0x80, 0xff};       // show_existing_frame
const Bytes kKeyWithExtension = {0x36, 0x00, 0x02, 0x10, 0xff};  // an extension byte before the size

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace

TEST(Av1Units, KeyFramesAndUnitsAreFoundAndDamageReadsAsNothing)
{
    const struct {
        const char* what;
        Bytes packet;
        int units;  // -1: not readable
        bool key;
    } cases[] = {
        {"key frame after delimiter and header", Join({kDelimiter, kSequenceHeader, kKeyFrame}), 3, true},
        {"key frame with an extension byte", kKeyWithExtension, 1, true},
        {"inter frame", kInterFrame, 1, false},
        {"a frame shown again", kShownAgain, 1, false},
        {"no frame at all", Join({kDelimiter, kSequenceHeader}), 2, false},
        {"a unit without its size field", {0x30, 0x10, 0xff}, -1, false},
        {"a size that never ends", {0x32, 0x80, 0x80}, -1, false},
        {"a size past the end", {0x32, 0x05, 0x10}, -1, false},
        {"a key frame behind a damaged unit", Join({{0x32, 0x09}, kKeyFrame}), -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<CodedUnit> units;
        const bool read = SplitAv1Units(c.packet.data(), c.packet.size(), &units);
        EXPECT_EQ(read ? static_cast<int>(units.size()) : -1, c.units);
        EXPECT_EQ(Av1StartsKeyFrame(c.packet.data(), c.packet.size()), c.key);
    }
}

TEST(Av1Units, TheRecordGivesItsSequenceHeaders)
{
    const Bytes record = Join({{0x81, 0x00, 0x0c, 0x00}, kSequenceHeader});
    const std::vector<Bytes> headers = Av1ConfigSequenceHeaders(record.data(), record.size());
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0], kSequenceHeader);
    // Without its marker bit, or with nothing behind its fields, it gives none.
    const Bytes unmarked = Join({{0x01, 0x00, 0x0c, 0x00}, kSequenceHeader});
    EXPECT_TRUE(Av1ConfigSequenceHeaders(unmarked.data(), unmarked.size()).empty());
    EXPECT_TRUE(Av1ConfigSequenceHeaders(record.data(), 4).empty());
}
