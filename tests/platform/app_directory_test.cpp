// SPDX-License-Identifier: GPL-3.0-or-later
// Where the program's files live: beside the executable in a build tree or a
// portable copy, per user and in share/morvane once installed.

#include "app_directory.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include <unistd.h>

namespace {

using platform::AppFiles;
using platform::ResolveAppDirectory;

bool WriteFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class AppDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid());
        for (const char* name : kVariables) {
            saved_.push_back(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        }
        qputenv("XDG_CONFIG_HOME", Path("home/config").toUtf8());
        qputenv("XDG_CACHE_HOME", Path("home/cache").toUtf8());
    }
    void TearDown() override
    {
        for (size_t i = 0; i < saved_.size(); ++i) {
            if (saved_[i])
                qputenv(kVariables[i], *saved_[i]);
            else
                qunsetenv(kVariables[i]);
        }
    }
    QString Path(const QString& relative) const { return root_.path() + QLatin1Char('/') + relative; }
    QString MakeFolder(const QString& relative) const
    {
        QDir().mkpath(Path(relative));
        return Path(relative);
    }

    static constexpr const char* kVariables[] = {"XDG_CONFIG_HOME", "XDG_CACHE_HOME"};
    QTemporaryDir root_;
    std::vector<std::optional<QByteArray>> saved_;
};

TEST_F(AppDirectoryTest, AFolderWithItsOwnLanguagesKeepsEverythingBesideTheExecutable)
{
    const QString program = MakeFolder("portable");
    MakeFolder("portable/languages");
    // A share folder next to it does not matter while languages/ is beside the executable.
    MakeFolder("share/morvane/languages");
    for (AppFiles files : {AppFiles::Program, AppFiles::Settings, AppFiles::Cache, AppFiles::Shipped})
        EXPECT_EQ(ResolveAppDirectory(files, program), program) << static_cast<int>(files);
    EXPECT_FALSE(QFileInfo::exists(Path("home/config/morvane")));
    EXPECT_FALSE(QFileInfo::exists(Path("home/cache/morvane")));
}

TEST_F(AppDirectoryTest, AnInstalledProgramReadsShareAndKeepsSettingsAndCachePerUser)
{
    const QString bin = MakeFolder("usr/bin");
    const QString share = MakeFolder("usr/share/morvane");
    MakeFolder("usr/share/morvane/languages");
    ASSERT_TRUE(WriteFile(share + "/setting.ini", "[LANGUAGE]\nfile=english.ini\n"));
    ASSERT_TRUE(QFile::setPermissions(share + "/setting.ini", QFile::ReadOwner));

    EXPECT_EQ(ResolveAppDirectory(AppFiles::Program, bin), bin);
    EXPECT_EQ(ResolveAppDirectory(AppFiles::Shipped, bin), share);
    const QString cache = ResolveAppDirectory(AppFiles::Cache, bin);
    EXPECT_EQ(cache, Path("home/cache/morvane"));
    EXPECT_TRUE(QFileInfo(cache).isDir());  // the preview writes there at once

    // The first start copies the shipped settings, writable even though the shipped copy is not.
    const QString config = ResolveAppDirectory(AppFiles::Settings, bin);
    ASSERT_EQ(config, Path("home/config/morvane"));
    EXPECT_EQ(ReadFile(config + "/setting.ini"), "[LANGUAGE]\nfile=english.ini\n");
    EXPECT_TRUE(QFileInfo(config + "/setting.ini").permissions() & QFile::WriteOwner);

    // Later starts keep the user's own choices.
    ASSERT_TRUE(WriteFile(config + "/setting.ini", "[LANGUAGE]\nfile=german.ini\n"));
    EXPECT_EQ(ResolveAppDirectory(AppFiles::Settings, bin), config);
    EXPECT_EQ(ReadFile(config + "/setting.ini"), "[LANGUAGE]\nfile=german.ini\n");
    EXPECT_FALSE(QFileInfo::exists(bin + "/setting.ini"));
}

TEST_F(AppDirectoryTest, AReadOnlyPortableCopyKeepsItsShippedFilesAndWritesPerUser)
{
    const QString program = MakeFolder("cdrom");
    MakeFolder("cdrom/languages");
    ASSERT_TRUE(WriteFile(program + "/setting.ini", "[PATH]\nname=/videos\n"));
    ASSERT_TRUE(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
    if (access(program.toLocal8Bit().constData(), W_OK) == 0) {
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        GTEST_SKIP() << "this user may write to read-only folders";
    }
    EXPECT_EQ(ResolveAppDirectory(AppFiles::Shipped, program), program);
    EXPECT_EQ(ResolveAppDirectory(AppFiles::Cache, program), Path("home/cache/morvane"));
    EXPECT_EQ(ResolveAppDirectory(AppFiles::Settings, program), Path("home/config/morvane"));
    EXPECT_EQ(ReadFile(Path("home/config/morvane/setting.ini")), "[PATH]\nname=/videos\n");
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace
