// SPDX-License-Identifier: GPL-3.0-or-later
// The file a job writes: created exclusively under a free name at launch, so
// no other job or program can own the same name, and written by the muxer
// through that very descriptor. Nothing here ever opens an existing file for
// writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct AVIOContext;
class BlockWriter;

// Creates `wanted`, or the first free of name(0).ext, name(1).ext, ..., with
// O_EXCL. Returns the open descriptor and sets *chosen, or returns -errno
// (*chosen then holds `wanted`).
int CreateUniqueOutputFile(const std::string& wanted, std::string* chosen);

// Removes `path` only while it is still the file behind `fd`: a name the user
// has since given to another file is left alone.
void RemoveIfSameFile(int fd, const std::string& path);

// The muxer's sink on a descriptor the job owns, written on a thread of its
// own. The first failed write or seek is kept (as an errno value) so the job
// can say why its output broke; a write that fails behind the muxer's back
// shows at the next write, seek or flush.
class OutputFile {
public:
    OutputFile(int fd, std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // A write context for the muxer, owned by this object; null when out of memory.
    AVIOContext* OpenWriter();
    // Drops the writer and everything written: the name stays reserved.
    void Rewind();
    // Writes out what the writer still buffers; false once any write failed.
    bool Flush();
    // Flushes and closes the file; false on any write error.
    bool Close();
    // Closes and deletes the file: it holds nothing a user could play.
    void Delete();

    // Once flushed: what the file holds at `offset`, and one byte of it
    // changed in place (a flag the muxer set against the input's word).
    bool ReadAt(int64_t offset, void* buf, size_t n) const;
    bool WriteByteAt(int64_t offset, uint8_t byte);
    int64_t Size() const;

    int error() const { return error_; }
    // Close found the name no longer naming this file: moved or deleted.
    bool moved() const { return moved_; }
    const std::string& path() const { return path_; }

private:
    static int Write(void* opaque, uint8_t* buf, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);
    void FreeWriter();
    bool StillAtItsPath() const;
    // Everything handed to the writer thread is on the descriptor; false
    // once a write failed.
    bool WrittenOut() const;

    int fd_;
    std::string path_;
    AVIOContext* writer_ = nullptr;
    std::unique_ptr<BlockWriter> blocks_;  // with the writer: what it gave, being written
    int error_ = 0;
    bool moved_ = false;
};
