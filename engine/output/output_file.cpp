// SPDX-License-Identifier: GPL-3.0-or-later
#include "output_file.h"

#include "block_writer.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace {

// Holds only the muxer's small writes between packets: packet data goes
// straight to the block writer.
constexpr int kWriterBufferSize = 64 * 1024;
constexpr int kMaxNameCounter = 100000;  // a folder full of copies ends the search

std::string NumberedName(const std::string& name, int counter)
{
    const size_t dot = name.rfind('.');
    const size_t slash = name.rfind('/');
    const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string stem = has_ext ? name.substr(0, dot) : name;
    const std::string ext = has_ext ? name.substr(dot) : "";
    return stem + "(" + std::to_string(counter) + ")" + ext;
}

}  // namespace

int CreateUniqueOutputFile(const std::string& wanted, std::string* chosen)
{
    *chosen = wanted;
    std::string candidate = wanted;
    for (int counter = 0; counter <= kMaxNameCounter; ++counter) {
        const int fd = open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *chosen = candidate;
            return fd;
        }
        if (errno != EEXIST)
            return -errno;
        candidate = NumberedName(wanted, counter);
    }
    return -EEXIST;
}

void RemoveIfSameFile(int fd, const std::string& path)
{
    struct stat mine {}, named {};
    if (fd < 0 || fstat(fd, &mine) != 0 || stat(path.c_str(), &named) != 0)
        return;
    if (mine.st_dev == named.st_dev && mine.st_ino == named.st_ino)
        unlink(path.c_str());
}

OutputFile::OutputFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

// A file never closed as a result is not one: a job that failed or was
// abandoned leaves nothing of its own behind.
OutputFile::~OutputFile() { Delete(); }

bool OutputFile::StillAtItsPath() const
{
    struct stat mine {}, named {};
    if (fd_ < 0 || fstat(fd_, &mine) != 0 || stat(path_.c_str(), &named) != 0)
        return false;
    return mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
}

AVIOContext* OutputFile::OpenWriter()
{
    FreeWriter();
    auto* buffer = static_cast<unsigned char*>(av_malloc(kWriterBufferSize));
    if (!buffer)
        return nullptr;
    writer_ = avio_alloc_context(buffer, kWriterBufferSize, 1, this, nullptr, &OutputFile::Write,
                                 &OutputFile::Seek);
    if (!writer_) {
        av_free(buffer);
        return nullptr;
    }
    writer_->direct = 1;  // the block writer copies packet data once; the context need not as well
    blocks_ = std::make_unique<BlockWriter>(fd_);
    return writer_;
}

// Drops what the writer thread has not written yet: called once it is
// written out, or when the file is emptied or deleted anyway.
void OutputFile::FreeWriter()
{
    blocks_.reset();
    if (!writer_)
        return;
    av_freep(&writer_->buffer);
    avio_context_free(&writer_);
}

bool OutputFile::WrittenOut() const
{
    return !blocks_ || blocks_->Drain() == 0;
}

void OutputFile::Rewind()
{
    FreeWriter();
    error_ = 0;
    if (fd_ >= 0 && (ftruncate(fd_, 0) != 0 || lseek(fd_, 0, SEEK_SET) != 0))
        error_ = errno;
}

bool OutputFile::Flush()
{
    if (writer_) {
        avio_flush(writer_);
        if (writer_->error < 0 && error_ == 0)
            error_ = AVUNERROR(writer_->error);
    }
    if (!WrittenOut() && error_ == 0)
        error_ = blocks_->error();
    return error_ == 0;
}

bool OutputFile::Close()
{
    // Written through its descriptor, the file may have been moved or
    // deleted meanwhile: the name the user was told then holds nothing.
    if (fd_ >= 0 && !StillAtItsPath()) {
        moved_ = true;
        if (error_ == 0)
            error_ = ENOENT;
    }
    Flush();
    FreeWriter();
    if (fd_ >= 0) {
        if (close(fd_) != 0 && error_ == 0)
            error_ = errno;
        fd_ = -1;
    }
    return error_ == 0;
}

void OutputFile::Delete()
{
    FreeWriter();
    if (fd_ >= 0) {
        RemoveIfSameFile(fd_, path_);
        close(fd_);
        fd_ = -1;
    }
}

bool OutputFile::ReadAt(int64_t offset, void* buf, size_t n) const
{
    return fd_ >= 0 && WrittenOut() && offset >= 0 && pread(fd_, buf, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
}

bool OutputFile::WriteByteAt(int64_t offset, uint8_t byte)
{
    if (fd_ < 0 || error_ != 0 || !Flush())
        return false;
    if (pwrite(fd_, &byte, 1, static_cast<off_t>(offset)) != 1) {
        error_ = errno;
        return false;
    }
    return true;
}

int64_t OutputFile::Size() const
{
    struct stat st {};
    return fd_ >= 0 && WrittenOut() && fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

int OutputFile::Write(void* opaque, uint8_t* buf, int size)
{
    auto* self = static_cast<OutputFile*>(opaque);
    if (self->error_ == 0 && size > 0)
        self->error_ = self->blocks_->Append(buf, static_cast<size_t>(size));
    return self->error_ != 0 ? AVERROR(self->error_) : size;  // nothing after a hole in the file
}

int64_t OutputFile::Seek(void* opaque, int64_t offset, int whence)
{
    auto* self = static_cast<OutputFile*>(opaque);
    if (!self->WrittenOut()) {
        if (self->error_ == 0)
            self->error_ = self->blocks_->error();
        return AVERROR(self->error_);
    }
    if (whence == AVSEEK_SIZE) {
        struct stat st {};
        return fstat(self->fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : AVERROR(errno);
    }
    const off_t at = lseek(self->fd_, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    if (at < 0) {
        if (self->error_ == 0)
            self->error_ = errno;
        return AVERROR(errno);
    }
    return at;
}
