// SPDX-License-Identifier: GPL-3.0-or-later
// The log of what the media libraries said stays small however long the
// program runs: a full log moves aside and a new one begins.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

#include "library_log.h"

namespace {
std::string Contents(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
}  // namespace

TEST(LibraryLog, AFullLogIsMovedAsideAndANewOneBegun)
{
    const std::string folder = (std::filesystem::temp_directory_path() / ("morvane-log-" + std::to_string(getpid()))).string();
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string log = folder + "/library.log";
    // An earlier run left the log just short of its cap.
    std::ofstream(log) << std::string((1 << 20) - 100, 'x') << '\n';
    KeepLibraryMessages(log);
    for (int i = 0; i < 50; ++i)
        av_log(nullptr, AV_LOG_WARNING, "warning number %d\n", i);
    av_log(nullptr, AV_LOG_INFO, "not a warning\n");

    const std::string old = Contents(log + ".1"), now = Contents(log);
    EXPECT_EQ(old.rfind(std::string(100, 'x'), 0), 0u) << "the earlier lines moved aside";
    EXPECT_LT(old.size(), (1u << 20) + 200);
    EXPECT_NE(now.find("warning number 49"), std::string::npos) << now;
    EXPECT_EQ(now.find("not a warning"), std::string::npos);
    EXPECT_LT(now.size(), 2000u);
    EXPECT_EQ(old.find("warning number 49"), std::string::npos);
    EXPECT_NE(TakeLibraryMessages().find("warning number 49"), std::string::npos) << "kept in memory too";
    std::filesystem::remove_all(folder);
}
