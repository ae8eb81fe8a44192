// SPDX-License-Identifier: GPL-3.0-or-later
#include "block_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

#include <unistd.h>

BlockWriter::BlockWriter(int fd) : fd_(fd)
{
    for (int i = 0; i < kBlocks; ++i) {
        Block b;
        b.data.reset(new (std::nothrow) uint8_t[kBlockSize]);
        if (!b.data)
            break;
        blocks_.push_back(std::move(b));
    }
    for (Block& b : blocks_)
        free_.push_back(&b);
    if (blocks_.size() < 2 || !StartThread()) {
        blocks_.clear();  // too little memory or no thread: write in the caller
        free_.clear();
    }
}

bool BlockWriter::StartThread()
{
    try {
        thread_ = std::thread(&BlockWriter::WriteQueued, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

BlockWriter::~BlockWriter()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    queued_.notify_one();
    thread_.join();
}

int BlockWriter::error() const { return error_.load(); }

void BlockWriter::Fail(int error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (error_.load() == 0)
        error_.store(error);
}

int BlockWriter::WriteAll(const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd_, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

int BlockWriter::Append(const uint8_t* data, size_t size)
{
    if (const int e = error(); e != 0)
        return e;
    if (!thread_.joinable()) {
        if (const int e = WriteAll(data, size); e != 0)
            Fail(e);
        return error();
    }
    while (size > 0) {
        if (!filling_ && !(filling_ = TakeFreeBlock()))
            return error();
        const size_t n = std::min(size, kBlockSize - filling_->used);
        std::memcpy(filling_->data.get() + filling_->used, data, n);
        filling_->used += n;
        data += n;
        size -= n;
        if (filling_->used == kBlockSize) {
            Hand(filling_);
            filling_ = nullptr;
        }
    }
    return error();
}

// Null once a write failed: what is left would only land after a hole.
BlockWriter::Block* BlockWriter::TakeFreeBlock()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (free_.empty())
        freed_.wait(lock, [this] { return free_.size() >= kWakeBatch || error_.load() != 0; });
    if (error_.load() != 0)
        return nullptr;
    Block* b = free_.back();
    free_.pop_back();
    b->used = 0;
    return b;
}

void BlockWriter::Hand(Block* block)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(block);
        wake = queue_.size() == kWakeBatch || flushing_;
    }
    if (wake)
        queued_.notify_one();
}

int BlockWriter::Drain()
{
    if (!thread_.joinable())
        return error();
    std::unique_lock<std::mutex> lock(mutex_);
    if (filling_ && filling_->used > 0)
        queue_.push_back(filling_);
    filling_ = nullptr;
    flushing_ = true;
    queued_.notify_one();
    freed_.wait(lock, [this] { return queue_.empty() && !writing_; });
    flushing_ = false;
    return error_.load();
}

// Sleeps until a batch of blocks waits, not at every block: each sleep and
// wake-up of either side costs two system calls and a switch.
void BlockWriter::WriteQueued()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] {
            return stopping_ || queue_.size() >= kWakeBatch || (flushing_ && !queue_.empty());
        });
        if (stopping_)
            return;
        while (!queue_.empty() && !stopping_)
            WriteFront(lock);
    }
}

void BlockWriter::WriteFront(std::unique_lock<std::mutex>& lock)
{
    Block* b = queue_.front();
    queue_.pop_front();
    writing_ = true;
    const bool skip = error_.load() != 0;
    lock.unlock();
    const int e = skip ? 0 : WriteAll(b->data.get(), b->used);
    lock.lock();
    if (e != 0 && error_.load() == 0)
        error_.store(e);
    writing_ = false;
    free_.push_back(b);
    if (free_.size() == kWakeBatch || queue_.empty() || e != 0)
        freed_.notify_all();
}
