// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop seams' own rules that callers depend on.

#include "app_directory.h"
#include "seams.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(AppDirectory, IsTheExecutablesFolderWithoutATrailingSeparator)
{
    const QString folder = platform::GetAppDirectory();
    EXPECT_FALSE(folder.isEmpty());
    EXPECT_FALSE(folder.endsWith(QLatin1Char('/')));
    EXPECT_TRUE(QFileInfo::exists(folder + "/morvane_platform_tests"));
}

TEST(ShellOpen, AMissingLocalFileOrFolderFailsWithTheShellsCodesAndOpensNothing)
{
    platform::ScopedSeams seams;
    QTemporaryDir dir;
    platform::CurrentSeams().appDirectory = [&dir] { return dir.path(); };
    const auto open = platform::DefaultSeams().shellOpen;
    // Relative paths are looked for beside the executable.
    EXPECT_EQ(open("README.md"), platform::kShellFileNotFound);
    EXPECT_EQ(open("no-such-folder/README.md"), platform::kShellPathNotFound);
    EXPECT_EQ(open(dir.path() + "/absent.mp4"), platform::kShellFileNotFound);
    EXPECT_EQ(open(QString()), platform::kShellFileNotFound);
}

TEST(OpenFileFilter, TranslatesPipeSeparatedPairsIntoQtFilters)
{
    EXPECT_EQ(platform::ToQtFileFilter("Video files|*.mp4;*.avi;*.mkv|All files|*.*|"),
              QStringLiteral("Video files (*.mp4 *.avi *.mkv);;All files (*)"));
    EXPECT_EQ(platform::ToQtFileFilter(""), QString());
}

TEST(Seams, AScopeRestoresTheSeamsItFound)
{
    int shown = 0;
    {
        platform::ScopedSeams seams;
        platform::CurrentSeams().messageBox = [&shown](const platform::MessageBoxRequest&) { ++shown; };
        platform::ShowMessageBox({nullptr, "text", "caption", platform::MessageIcon::None});
    }
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(static_cast<bool>(platform::CurrentSeams().messageBox));
    platform::CurrentSeams().appDirectory = nullptr;
    EXPECT_EQ(platform::GetAppDirectory(), platform::ExecutableDirectory());
}

}  // namespace
