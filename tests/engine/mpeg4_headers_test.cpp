// SPDX-License-Identifier: GPL-3.0-or-later
// MPEG-4 Part 2 headers an exact cut reads and writes: the low_delay flag of
// a video object layer header, and the user data that marks packed B-frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "coded_units.h"
#include "packed_pictures.h"

namespace {

Bytes FromHex(const std::string& hex)
{
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Layer headers as the encoders here write them, each with its own
// low_delay: the flag is where a decoder reads it when setting it to the
// value it has changes nothing and the other value changes one bit.
TEST(Mpeg4Headers, LowDelayIsSetWhereTheLayerHeaderCarriesIt)
{
    const struct {
        const char* name;
        const char* hex;
        int low_delay;  // -1: the header carries none
    } cases[] = {
        {"mpeg4 with B-frames", "000001b0f1000001b5a9130000010000000120" "08d4f8485d0800cd0584121410", 0},
        {"mpeg4 without", "000001b001000001b589130000010000000120" "00c4f8485d8800cd0584121443", 1},
        {"Xvid with B-frames, no layer identifier", "0000012008bc04068400670c16104851", 0},
        {"no control parameters", "00000120088000000000", -1},
        {"a picture first", "000001b6100000012008d4f8485d08", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes header = FromHex(c.hex);
        for (const bool value : {false, true}) {
            Bytes written = header;
            const bool set = SetMpeg4LowDelay(written.data(), written.size(), value);
            EXPECT_EQ(set, c.low_delay >= 0);
            int bits_changed = 0;
            for (size_t i = 0; i < header.size(); ++i)
                bits_changed += __builtin_popcount(header[i] ^ written[i]);
            EXPECT_EQ(bits_changed, c.low_delay >= 0 && value != (c.low_delay == 1) ? 1 : 0);
        }
    }
}

TEST(Mpeg4Headers, PackedBFramesAreKnownByTheirUserData)
{
    const Bytes vol = FromHex("0000012008bc04068400670c16104851");
    const Bytes picture = FromHex("000001b61060");
    const auto user_data = [](const std::string& text) {
        Bytes b = FromHex("000001b2");
        const Bytes t = Text(text);
        b.insert(b.end(), t.begin(), t.end());
        return b;
    };
    const auto joined = [](std::vector<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const struct {
        const char* name;
        Bytes data;
        bool packed;
    } cases[] = {
        {"DivX build, packed", joined({vol, user_data("DivX503b1393p"), user_data("XviD0069"), picture}), true},
        {"DivX build, not packed", joined({vol, user_data("DivX503b1393"), picture}), false},
        {"another encoder's", joined({vol, user_data("Lavc59.37.100"), picture}), false},
        {"only after the picture starts", joined({vol, picture, user_data("DivX503b1393p")}), false},
        {"at the very end", joined({vol, user_data("DivX503b1393p")}), true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsPackedMpeg4(c.data.data(), c.data.size()), c.packed) << c.name;
}

}  // namespace
