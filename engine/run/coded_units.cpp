// SPDX-License-Identifier: GPL-3.0-or-later
#include "coded_units.h"

#include <cstring>

#include "start_codes.h"

namespace {

uint32_t ReadBigEndian(const uint8_t* p, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

// `count` units, each behind a two-byte size, from data[*at] on; false when
// one would run past `size`.
bool ReadSizedUnits(const uint8_t* data, size_t size, size_t count, size_t* at, std::vector<Bytes>* units)
{
    for (size_t i = 0; i < count; ++i) {
        if (*at + 2 > size)
            return false;
        const size_t n = ReadBigEndian(data + *at, 2);
        *at += 2;
        if (n > size - *at)
            return false;
        units->emplace_back(data + *at, data + *at + n);
        *at += n;
    }
    return true;
}

class BitReader {
public:
    explicit BitReader(Bytes rbsp) : bits_(std::move(rbsp)) {}
    int Bit()
    {
        if (pos_ >= bits_.size() * 8)
            return -1;
        const int b = (bits_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
        ++pos_;
        return b;
    }
    int Ue()
    {
        int zeros = 0;
        for (int b = Bit(); b == 0; b = Bit()) {
            if (++zeros > 31)
                return -1;
        }
        if (pos_ > bits_.size() * 8)
            return -1;
        uint32_t value = 0;
        for (int i = 0; i < zeros; ++i) {
            const int b = Bit();
            if (b < 0)
                return -1;
            value = (value << 1) | static_cast<uint32_t>(b);
        }
        return static_cast<int>((1u << zeros) - 1 + value);
    }

private:
    Bytes bits_;
    size_t pos_ = 0;
};

}  // namespace

std::vector<CodedUnit> SplitStartCodeUnits(const uint8_t* data, size_t size)
{
    std::vector<CodedUnit> units;
    size_t at = FindStartCode(data, size, 0);
    while (at < size) {
        const size_t begin = at + 3;
        const size_t next = FindStartCode(data, size, begin);
        size_t end = next;
        while (end > begin && data[end - 1] == 0)
            --end;  // a four-byte start code's leading zero, or trailing zeros
        if (end > begin)
            units.push_back({data + begin, end - begin});
        at = next;
    }
    return units;
}

bool SplitLengthUnits(const uint8_t* data, size_t size, int length_size, std::vector<CodedUnit>* units)
{
    if (length_size == kStartCodes) {
        *units = SplitStartCodeUnits(data, size);
        return true;
    }
    size_t at = 0;
    while (at + static_cast<size_t>(length_size) <= size) {
        const size_t n = ReadBigEndian(data + at, length_size);
        at += static_cast<size_t>(length_size);
        if (n > size - at)
            return false;
        units->push_back({data + at, n});
        at += n;
    }
    return at == size;
}

void AppendLengthUnit(Bytes& out, const uint8_t* data, size_t size, int length_size)
{
    if (length_size == kStartCodes)
        out.insert(out.end(), {0, 0, 0, 1});
    for (int i = length_size - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(size >> (8 * i)));
    out.insert(out.end(), data, data + size);
}

Bytes StartCodesToLengths(const uint8_t* data, size_t size, int length_size)
{
    if (length_size == kStartCodes)
        return Bytes(data, data + size);
    Bytes out;
    out.reserve(size + 16);
    for (const CodedUnit& u : SplitStartCodeUnits(data, size))
        AppendLengthUnit(out, u.data, u.size, length_size);
    return out;
}

int ReadLeadingUe(const uint8_t* data, size_t size, size_t skip_bytes)
{
    Bytes rbsp;
    int zeros = 0;
    for (size_t i = 0; i < size && rbsp.size() < skip_bytes + 8; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;  // emulation prevention byte
            continue;
        }
        zeros = data[i] == 0 ? zeros + 1 : 0;
        rbsp.push_back(data[i]);
    }
    if (rbsp.size() <= skip_bytes)
        return -1;
    rbsp.erase(rbsp.begin(), rbsp.begin() + static_cast<std::ptrdiff_t>(skip_bytes));
    return BitReader(std::move(rbsp)).Ue();
}

bool ParseAvcConfig(const uint8_t* data, size_t size, AvcConfig* config)
{
    if (size < 7 || data[0] != 1)
        return false;
    config->profile = data[1];
    config->compatibility = data[2];
    config->level = data[3];
    config->length_size = (data[4] & 3) + 1;
    size_t at = 5;
    for (std::vector<Bytes>* list : {&config->sps, &config->pps}) {
        if (at >= size)
            return false;
        const size_t count = list == &config->sps ? data[at] & 0x1f : data[at];
        ++at;
        if (!ReadSizedUnits(data, size, count, &at, list))
            return false;
    }
    config->rest.assign(data + at, data + size);
    return true;
}

Bytes WriteAvcConfig(const AvcConfig& config)
{
    Bytes out = {1, config.profile, config.compatibility, config.level,
                 static_cast<uint8_t>(0xfc | (config.length_size - 1)),
                 static_cast<uint8_t>(0xe0 | config.sps.size())};
    auto put = [&out](const Bytes& unit) {
        out.push_back(static_cast<uint8_t>(unit.size() >> 8));
        out.push_back(static_cast<uint8_t>(unit.size()));
        out.insert(out.end(), unit.begin(), unit.end());
    };
    for (const Bytes& s : config.sps)
        put(s);
    out.push_back(static_cast<uint8_t>(config.pps.size()));
    for (const Bytes& p : config.pps)
        put(p);
    out.insert(out.end(), config.rest.begin(), config.rest.end());
    return out;
}

bool ParseHevcConfig(const uint8_t* data, size_t size, int* length_size, std::vector<Bytes>* units)
{
    if (size < 23 || data[0] != 1)
        return false;
    *length_size = (data[21] & 3) + 1;
    const int arrays = data[22];
    size_t at = 23;
    for (int a = 0; a < arrays; ++a) {
        if (at + 3 > size)
            return false;
        const size_t count = ReadBigEndian(data + at + 1, 2);
        at += 3;
        if (!ReadSizedUnits(data, size, count, &at, units))
            return false;
    }
    return true;
}

bool HasMpeg4VolHeader(const uint8_t* data, size_t size)
{
    for (size_t at = FindStartCode(data, size, 0); at + 3 < size; at = FindStartCode(data, size, at + 3)) {
        if (data[at + 3] >= 0x20 && data[at + 3] <= 0x2f)
            return true;
        if (data[at + 3] == 0xb6)
            return false;  // the picture itself starts
    }
    return false;
}

bool SetMpeg4LowDelay(uint8_t* data, size_t size, bool low_delay)
{
    size_t at = FindStartCode(data, size, 0);
    while (at + 3 < size && !(data[at + 3] >= 0x20 && data[at + 3] <= 0x2f)) {
        if (data[at + 3] == 0xb6)
            return false;  // a picture before any layer header
        at = FindStartCode(data, size, at + 3);
    }
    size_t bit = (at + 4) * 8;
    const auto read = [&](int n) {
        uint32_t v = 0;
        for (int i = 0; i < n && bit / 8 < size; ++i, ++bit)
            v = (v << 1) | ((data[bit / 8] >> (7 - bit % 8)) & 1);
        return v;
    };
    read(1 + 8);  // random_accessible_vol, video_object_type_indication
    if (read(1))  // is_object_layer_identifier: verid, priority
        read(4 + 3);
    if (read(4) == 15)  // aspect_ratio_info: an extended pixel aspect
        read(8 + 8);
    if (!read(1))  // vol_control_parameters
        return false;
    read(2);  // chroma_format
    if (bit / 8 >= size)
        return false;
    const uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
    data[bit / 8] = static_cast<uint8_t>(low_delay ? data[bit / 8] | mask : data[bit / 8] & ~mask);
    return true;
}

bool ParseMpeg2Sequence(const uint8_t* data, size_t size, Mpeg2Sequence* seq)
{
    bool header = false;
    for (const CodedUnit& u : SplitStartCodeUnits(data, size)) {
        const uint8_t* b = u.data;
        if (b[0] == kMpeg2SequenceHeader && u.size >= 9) {
            header = true;
            seq->bit_rate = ((b[5] << 10) | (b[6] << 2) | (b[7] >> 6)) * int64_t{400};
            seq->vbv_bits = (((b[7] & 0x1f) << 5) | (b[8] >> 3)) * int64_t{16 * 1024};
        } else if (header && b[0] == kMpeg2Extension && u.size >= 6 && (b[1] >> 4) == 1) {
            // The sequence extension: the high bits of the rate and the buffer.
            seq->progressive = (b[2] >> 3) & 1;
            const int64_t rate_ext = ((b[3] & 0x1f) << 7) | (b[4] >> 1);
            seq->bit_rate += (rate_ext << 18) * 400;
            seq->vbv_bits += (int64_t{b[5]} << 10) * 16 * 1024;
        } else if (header && (b[0] == kMpeg2Picture || b[0] == kMpeg2Gop)) {
            break;
        }
    }
    return header;
}

bool HasMpeg2SequenceHeader(const uint8_t* data, size_t size)
{
    for (const CodedUnit& u : SplitStartCodeUnits(data, size)) {
        if (u.data[0] == kMpeg2SequenceHeader)
            return true;
        if (u.data[0] == kMpeg2Picture)
            return false;
    }
    return false;
}

bool SplitAv1Units(const uint8_t* data, size_t size, std::vector<CodedUnit>* units)
{
    units->clear();
    size_t at = 0;
    while (at < size) {
        const uint8_t header = data[at];
        const size_t header_size = (header & 0x04) ? 2 : 1;  // an extension byte
        if (!(header & 0x02) || at + header_size > size)
            return false;  // no size field: the unit runs to the end, which containers never store
        size_t pos = at + header_size;
        uint64_t payload = 0;
        for (int i = 0;; ++i) {  // leb128
            if (pos >= size || i == 8)
                return false;
            payload |= static_cast<uint64_t>(data[pos] & 0x7f) << (7 * i);
            if (!(data[pos++] & 0x80))
                break;
        }
        if (payload > size - pos)
            return false;
        units->push_back({data + at, pos + static_cast<size_t>(payload) - at});
        at = pos + static_cast<size_t>(payload);
    }
    return true;
}

std::vector<Bytes> Av1ConfigSequenceHeaders(const uint8_t* data, size_t size)
{
    std::vector<Bytes> headers;
    std::vector<CodedUnit> units;
    // Four bytes of fields, the first with its marker bit, then the units.
    if (size <= 4 || !(data[0] & 0x80) || !SplitAv1Units(data + 4, size - 4, &units))
        return headers;
    for (const CodedUnit& u : units)
        if (Av1UnitType(u) == kAv1SequenceHeader)
            headers.emplace_back(u.data, u.data + u.size);
    return headers;
}

bool Av1StartsKeyFrame(const uint8_t* data, size_t size)
{
    constexpr int kFrameHeader = 3, kFrame = 6;
    std::vector<CodedUnit> units;
    if (!SplitAv1Units(data, size, &units))
        return false;
    for (const CodedUnit& u : units) {
        const int type = Av1UnitType(u);
        if (type != kFrameHeader && type != kFrame)
            continue;
        // The payload follows the header and its size field.
        size_t pos = (u.data[0] & 0x04) ? 2 : 1;
        while (pos < u.size && (u.data[pos] & 0x80))
            ++pos;
        ++pos;
        if (pos >= u.size)
            return false;
        const uint8_t first = u.data[pos];
        const bool show_existing = first & 0x80;
        const int frame_type = (first >> 5) & 0x03;
        return !show_existing && frame_type == 0;
    }
    return false;
}
