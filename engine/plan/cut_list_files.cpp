// SPDX-License-Identifier: GPL-3.0-or-later
// List files written without ever losing one: new ones only where none is,
// replacements through a new file renamed into place.
#include "cut_list.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return fsync(fd) == 0;
}

}  // namespace

int WriteNewListFile(const std::string& path, const std::string& text)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    const bool written = WriteAll(fd, text);
    const int err = written ? 0 : (errno ? errno : EIO);
    if (close(fd) != 0 && written)
        return unlink(path.c_str()), EIO;
    if (!written)
        unlink(path.c_str());
    return err;
}

int ReplaceListFile(const std::string& path, const std::string& text)
{
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return errno;
    fchmod(fd, 0644);
    const bool written = WriteAll(fd, text);
    const int err = written ? 0 : (errno ? errno : EIO);
    if (close(fd) != 0 || !written || rename(temp.c_str(), path.c_str()) != 0) {
        const int why = err ? err : (errno ? errno : EIO);
        unlink(temp.c_str());
        return why;
    }
    return 0;
}

std::string ProjectFileFor(const std::string& video_path)
{
    return video_path + ".spans";
}
