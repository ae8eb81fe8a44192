// SPDX-License-Identifier: GPL-3.0-or-later
// The job's output file as the muxer uses it: writes of every size around the
// writer thread's blocks, seeks back to patch, reading back, emptying, and a
// device that is full.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "block_writer.h"
#include "output_file.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

namespace {

constexpr size_t kBlock = BlockWriter::kBlockSize;
constexpr size_t kAllBlocks = BlockWriter::kBlocks * kBlock;

// Bytes that tell their own offset apart from any other within a run.
std::vector<uint8_t> Pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
    return bytes;
}

std::vector<uint8_t> Contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/output-file-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        path = dir + "/out.bin";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::unique_ptr<OutputFile> Create()
    {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        return fd < 0 ? nullptr : std::make_unique<OutputFile>(fd, path);
    }

    std::string dir, path;
};

struct Writes {
    const char* what;
    std::vector<size_t> sizes;  // written one after another, as the muxer's packets
    int64_t patch_at;           // where four bytes are patched afterwards, as a muxer fixes a size; -1 none
};

TEST_F(OutputFileTest, HoldsEveryWriteInOrderWithSeekedPatches)
{
    const Writes cases[] = {
        {"one byte", {1}, -1},
        {"just under a block", {kBlock - 1}, 0},
        {"exactly a block", {kBlock}, static_cast<int64_t>(kBlock) - 4},
        {"just over a block", {kBlock + 1}, static_cast<int64_t>(kBlock) - 3},
        {"small writes across blocks", std::vector<size_t>(3000, 1500), 1500 * 1000},
        {"more than every block at once", {kAllBlocks + kBlock + 3}, static_cast<int64_t>(kAllBlocks) + 5},
        {"mixed", {8, kBlock * 2 + 17, 188, 188, kBlock - 300, 4096}, 12},
    };
    for (const Writes& c : cases) {
        std::filesystem::remove(path);
        auto file = Create();
        ASSERT_TRUE(file) << c.what;
        AVIOContext* pb = file->OpenWriter();
        ASSERT_NE(pb, nullptr) << c.what;
        std::vector<uint8_t> expected;
        uint8_t seed = 0;
        for (size_t n : c.sizes) {
            const std::vector<uint8_t> bytes = Pattern(n, seed++);
            avio_write(pb, bytes.data(), static_cast<int>(bytes.size()));
            expected.insert(expected.end(), bytes.begin(), bytes.end());
        }
        if (c.patch_at >= 0) {
            ASSERT_LE(c.patch_at + 4, static_cast<int64_t>(expected.size())) << c.what;
            const int64_t end = avio_tell(pb);
            ASSERT_EQ(avio_seek(pb, c.patch_at, SEEK_SET), c.patch_at) << c.what;
            avio_wb32(pb, 0xA1B2C3D4);
            ASSERT_EQ(avio_seek(pb, end, SEEK_SET), end) << c.what;
            const uint8_t patch[] = {0xA1, 0xB2, 0xC3, 0xD4};
            std::copy(patch, patch + 4, expected.begin() + c.patch_at);
        }
        avio_w8(pb, 0x5A);  // after the patch, at the end again
        expected.push_back(0x5A);
        // Counts what the writer thread still holds; the last byte is the muxer's own until the flush.
        EXPECT_EQ(file->Size(), static_cast<int64_t>(expected.size()) - 1) << c.what;
        ASSERT_TRUE(file->Flush()) << c.what;
        EXPECT_EQ(file->Size(), static_cast<int64_t>(expected.size())) << c.what;
        uint8_t last = 0;
        EXPECT_TRUE(file->ReadAt(static_cast<int64_t>(expected.size()) - 1, &last, 1)) << c.what;
        EXPECT_EQ(last, 0x5A) << c.what;
        ASSERT_TRUE(file->Close()) << c.what;
        EXPECT_TRUE(Contents(path) == expected) << c.what;
    }
}

TEST_F(OutputFileTest, ByteChangedInPlaceAfterFlushAndRewindKeepsOnlyWhatFollows)
{
    auto file = Create();
    ASSERT_TRUE(file);
    AVIOContext* pb = file->OpenWriter();
    const std::vector<uint8_t> first = Pattern(kBlock + 100, 1);
    avio_write(pb, first.data(), static_cast<int>(first.size()));
    ASSERT_TRUE(file->Flush());
    EXPECT_TRUE(file->WriteByteAt(kBlock + 10, 0xEE));
    uint8_t got = 0;
    EXPECT_TRUE(file->ReadAt(kBlock + 10, &got, 1));
    EXPECT_EQ(got, 0xEE);

    // Emptied with writes still queued: none of them may land after the rewind.
    avio_write(pb, first.data(), static_cast<int>(first.size()));
    file->Rewind();
    pb = file->OpenWriter();
    ASSERT_NE(pb, nullptr);
    const std::vector<uint8_t> second = Pattern(3 * kBlock + 5, 9);
    avio_write(pb, second.data(), static_cast<int>(second.size()));
    ASSERT_TRUE(file->Close());
    EXPECT_TRUE(Contents(path) == second);
}

TEST_F(OutputFileTest, FileDeletedWhenDroppedWithWritesStillQueued)
{
    {
        auto file = Create();
        ASSERT_TRUE(file);
        AVIOContext* pb = file->OpenWriter();
        const std::vector<uint8_t> bytes = Pattern(kAllBlocks + 1, 3);
        avio_write(pb, bytes.data(), static_cast<int>(bytes.size()));
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

struct FullDevice {
    const char* what;
    size_t written;     // before the check
    bool fails_at_write;  // the failure shows on the muxer's context already, not only at the flush
};

// A full disk fails the output at the latest once every block waits to be
// written, and always by the flush; nothing is written after the failure.
TEST_F(OutputFileTest, FullDeviceFailsWithNoSpaceAtTheWriteOrTheFlush)
{
    const FullDevice cases[] = {
        {"a few bytes", 10, false},
        {"every block", kAllBlocks, false},
        {"more than every block holds", kAllBlocks + 1, true},
    };
    for (const FullDevice& c : cases) {
        const int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        OutputFile file(fd, dir + "/not-there");  // never the device's own name: Delete unlinks it
        AVIOContext* pb = file.OpenWriter();
        ASSERT_NE(pb, nullptr);
        const std::vector<uint8_t> bytes = Pattern(c.written, 5);
        avio_write(pb, bytes.data(), static_cast<int>(bytes.size()));
        if (c.fails_at_write) {
            EXPECT_EQ(pb->error, AVERROR(ENOSPC)) << c.what;
            EXPECT_EQ(file.error(), ENOSPC) << c.what;
        }
        EXPECT_LT(avio_seek(pb, 0, SEEK_SET), 0) << c.what;
        EXPECT_FALSE(file.Flush()) << c.what;
        EXPECT_EQ(file.error(), ENOSPC) << c.what;
        EXPECT_FALSE(file.Close()) << c.what;
    }
}

TEST(BlockWriterTest, WritesInOrderAndDrainsToAnEmptyQueue)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    // A pipe holds far less than a block: the writer waits on the reader
    // below, so the caller must wait for free blocks in turn.
    std::vector<uint8_t> got;
    std::thread reader([&] {
        uint8_t buf[65536];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0)
            got.insert(got.end(), buf, buf + n);
    });
    std::vector<uint8_t> sent;
    {
        BlockWriter writer(fds[1]);
        for (size_t n : {size_t{3}, kBlock, kAllBlocks * 2 + 1, size_t{7}}) {
            const std::vector<uint8_t> bytes = Pattern(n, static_cast<uint8_t>(n));
            EXPECT_EQ(writer.Append(bytes.data(), bytes.size()), 0);
            sent.insert(sent.end(), bytes.begin(), bytes.end());
        }
        EXPECT_EQ(writer.Drain(), 0);
    }
    close(fds[1]);
    reader.join();
    close(fds[0]);
    EXPECT_TRUE(got == sent);
}

}  // namespace
