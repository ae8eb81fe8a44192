// SPDX-License-Identifier: GPL-3.0-or-later
// What the FFmpeg libraries say while they work (a muxer's "buffer
// underflow", a decoder's complaint) is kept instead of printed: a job that
// succeeds shows none of it, one that fails can show it.
#pragma once

#include <string>

// From now on the libraries' warnings and errors are kept in memory (the
// last few hundred lines) and, with a `log_path`, appended to that file;
// past about 1 MB it is renamed to `log_path`.1 and a new one begun.
void KeepLibraryMessages(const std::string& log_path = "");

// The lines kept since the last call, which forgets them.
std::string TakeLibraryMessages();
