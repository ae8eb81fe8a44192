// SPDX-License-Identifier: GPL-3.0-or-later
// Writes what the muxer produces to a descriptor on a thread of its own, in
// whole blocks, so the kernel's copy of a large output runs beside the
// reading and muxing instead of after it. Memory stays a few blocks however
// long the output is: the caller waits for a free block when all are queued.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class BlockWriter {
public:
    // Writes of 1 MB made ext4 fill the file's cache with large pages, twice
    // the system time of 256 KB writes on a virtual machine (measured).
    static constexpr size_t kBlockSize = 256 * 1024;
    static constexpr int kBlocks = 8;
    static constexpr size_t kWakeBatch = kBlocks / 2;

    // Writes at the descriptor's current position; nothing else may move it
    // or write to it until Drain returns.
    explicit BlockWriter(int fd);
    // Drops what is not written yet and ends the thread.
    ~BlockWriter();
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    // Copies `size` bytes for writing. Returns 0, or the errno of the first
    // write that failed: nothing given after it reaches the file.
    int Append(const uint8_t* data, size_t size);
    // Returns once everything appended is on the descriptor (0), or the
    // first failed write's errno.
    int Drain();
    int error() const;

private:
    struct Block {
        std::unique_ptr<uint8_t[]> data;
        size_t used = 0;
    };

    bool StartThread();
    Block* TakeFreeBlock();
    void Hand(Block* block);
    void WriteQueued();
    void WriteFront(std::unique_lock<std::mutex>& lock);
    int WriteAll(const uint8_t* data, size_t size);
    void Fail(int error);

    const int fd_;
    std::vector<Block> blocks_;
    Block* filling_ = nullptr;  // the caller's, until handed over

    mutable std::mutex mutex_;
    std::condition_variable queued_;  // the thread waits on it for work
    std::condition_variable freed_;   // the caller waits on it for a block or for the drain
    std::deque<Block*> queue_;
    std::vector<Block*> free_;
    bool writing_ = false;
    bool flushing_ = false;  // Drain waits: every queued block is wanted now
    bool stopping_ = false;
    std::atomic<int> error_{0};  // set under the mutex, read without it per append
    std::thread thread_;  // not started: the caller writes for itself
};
