// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line tool as a user meets it: messages, exit codes, outputs.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "media_checks.h"

extern char** environ;

namespace {
std::string Quote(const std::string& s) { return "'" + s + "'"; }

// The tool started with its standard output on a pipe, so a test can act
// once it has said something.
class RunningCli {
public:
    explicit RunningCli(const std::vector<std::string>& arguments)
    {
        const char* cli = std::getenv("MORVANE_CLI");
        std::vector<std::string> args = {cli ? cli : "morvane-cli"};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~RunningCli()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
    }
    // Reads until `text` has been printed; false when the tool ended first.
    bool WaitFor(const std::string& text)
    {
        char buffer[4096];
        while (output.find(text) == std::string::npos) {
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            output.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }
    int Signal(int sig) const { return kill(pid_, sig); }
    // The exit code once the tool has ended, -1 when a signal ended it.
    int Wait()
    {
        WaitFor(std::string(1, '\0'));  // reads to the end
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string output;

private:
    pid_t pid_ = -1;
    int out_ = -1;
};
}  // namespace

TEST(Cli, ProbePrintsFactsAndFailsOnBadFiles)
{
    CliResult r = RunCli("probe " + Quote(FixturePath("h264_aac.mp4")));
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("result=0"), std::string::npos);
    EXPECT_NE(r.output.find("width=320"), std::string::npos);
    EXPECT_NE(r.output.find("video_codec=h264"), std::string::npos);
    r = RunCli("probe " + Quote(FixturePath("text.mp4")));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("result=-1"), std::string::npos);
}

TEST(Cli, UsageErrorsExitWithTwo)
{
    EXPECT_EQ(RunCli("").exit_code, 2);
    EXPECT_EQ(RunCli("frobnicate").exit_code, 2);
    EXPECT_EQ(RunCli("cut " + Quote(FixturePath("h264_aac.mp4")) + " --start 0").exit_code, 2);
    EXPECT_EQ(RunCli("cut x --start 0 --end 1 --out /tmp --format 9").exit_code, 2);
}

// Help and version are answers, not errors: standard output, status 0. A
// wrong command line still gets the usage on standard error with status 2.
TEST(Cli, HelpAndVersionPrintOnStandardOutput)
{
    const char* cli = std::getenv("MORVANE_CLI");
    const auto stdout_of = [cli](const std::string& arguments, int* code) {
        FILE* pipe = popen((std::string(cli ? cli : "morvane-cli") + " " + arguments + " 2>/dev/null").c_str(), "r");
        std::string out;
        char buffer[4096];
        size_t n;
        while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        const int status = pipe ? pclose(pipe) : -1;
        *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return out;
    };
    int code = -1;
    for (const char* help : {"--help", "-h"}) {
        const std::string out = stdout_of(help, &code);
        EXPECT_EQ(code, 0) << help;
        EXPECT_NE(out.find("morvane-cli cut FILE --start"), std::string::npos) << out;
        EXPECT_NE(out.find("--exact"), std::string::npos) << out;
        EXPECT_NE(out.find("--span START-END"), std::string::npos) << out;
        EXPECT_NE(out.find("6  MKV"), std::string::npos) << out;
    }
    EXPECT_EQ(stdout_of("--version", &code), std::string("morvane-cli ") + MORVANE_VERSION + "\n");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(stdout_of("", &code), "");
    EXPECT_EQ(code, 2);
    const CliResult r = RunCli("frobnicate");
    EXPECT_EQ(r.output, "morvane-cli: unknown command frobnicate; the commands are probe, cut, join, preview and detect "
                        "(see morvane-cli --help)\n");
}

// Every form a script may write, and every mistake refused in one line
// naming it: options anywhere, "--name=value", "--" before a file named like
// an option; an option of another command, one given twice or abbreviated.
TEST(Cli, CommandLinesAreReadStrictly)
{
    const std::string folder = MakeScratchFolder("cli-forms");
    std::filesystem::copy_file(FixturePath("h264_aac.mp4"), folder + "/--dash.mp4");
    const std::string video = Quote(FixturePath("h264_aac.mp4"));
    const std::string out = " --out " + Quote(folder);
    const struct {
        std::string args;
        int exit_code;
        std::string says;
    } kCases[] = {
        {"join --exact --start 5 " + video + " " + video + out, 2, "--exact does not apply to join"},
        {"preview " + video + " 1 x.jpg --format 1", 2, "--format does not apply to preview"},
        {"probe --span 1-2 " + video, 2, "--span does not apply to probe"},
        {"cut " + video + " --start 1 --start 2 --end 3" + out, 2, "--start given twice"},
        {"cut " + video + " --start 0 --end 1" + out + " --out /tmp", 2, "--out given twice"},
        {"cut " + video + " --sta 1 --end 2" + out, 2, "unknown option --sta (options are not abbreviated)"},
        {"cut " + video + " --start 0 --end 1 --exact=yes" + out, 2, "--exact takes no value"},
        {"cut " + video + out + " --start 0 --end", 2, "--end needs a value"},
        {"cut " + video + " --start 0 --end 1 --colour red" + out, 2, "unknown option --colour"},
        {"cut " + video + " --start=0 --end=1 --title=equals --out=" + Quote(folder), 0,
         "output=" + folder + "/equals.mp4"},
        {"cut --start 0 --end 1 --title dash" + out + " -- --dash.mp4", 0, "output=" + folder + "/dash.mp4"},
    };
    for (const auto& c : kCases) {
        const CliResult r = RunShell("cd " + Quote(folder) + " && " + std::getenv("MORVANE_CLI") + " " + c.args +
                                     " 2>&1");
        EXPECT_EQ(r.exit_code, c.exit_code) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
        if (c.exit_code == 2) {
            EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << "one line:\n" << r.output;
        }
    }
}

// Each command's help names its own options, and only those.
TEST(Cli, EachCommandHasItsOwnHelp)
{
    const struct {
        const char* command;
        std::vector<std::string> names, lacks;
    } kCases[] = {
        {"cut", {"--start TIME", "--end", "--span START-END", "--separate", "--exact", "--out FOLDER", "--title",
                 "--format N", "--video-rate", "--size", "--fps", "--audio-rate", "--sample-rate", "6  MKV",
                 "[[hours:]minutes:]seconds"}, {}},
        {"join", {"--out FOLDER", "--format N"}, {"--exact", "--start", "--span"}},
        {"probe", {"usage: morvane-cli probe"}, {"--out", "--format"}},
        {"preview", {"usage: morvane-cli preview"}, {"--out", "--exact"}},
    };
    for (const auto& c : kCases) {
        for (const char* help : {" --help", " -h"}) {
            const CliResult r = RunCli(std::string(c.command) + help);
            EXPECT_EQ(r.exit_code, 0) << c.command;
            for (const std::string& name : c.names)
                EXPECT_NE(r.output.find(name), std::string::npos) << c.command << " lacks " << name << "\n" << r.output;
            for (const std::string& name : c.lacks)
                EXPECT_EQ(r.output.find(name), std::string::npos) << c.command << " names " << name;
        }
    }
}

TEST(Cli, CutNamesItsOutputUniquelyAndNeverOverwrites)
{
    const std::string folder = MakeScratchFolder("cli-cut");
    const std::string args = "cut " + Quote(FixturePath("h264_aac.mp4")) +
                             " --start 00:00:00.000 --end 00:00:01.000 --out " + Quote(folder);
    CliResult r = RunCli(args);
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("input 1 done"), std::string::npos);
    EXPECT_NE(r.output.find("output=" + folder + "/h264_aac.mp4"), std::string::npos);
    const auto size = std::filesystem::file_size(folder + "/h264_aac.mp4");
    r = RunCli(args);
    EXPECT_NE(r.output.find("output=" + folder + "/h264_aac(0).mp4"), std::string::npos) << r.output;
    r = RunCli(args);
    EXPECT_NE(r.output.find("output=" + folder + "/h264_aac(1).mp4"), std::string::npos) << r.output;
    EXPECT_EQ(std::filesystem::file_size(folder + "/h264_aac.mp4"), size);
}

TEST(Cli, RefusalsSayWhatWasWrong)
{
    const std::string folder = MakeScratchFolder("cli-refuse");
    CliResult r = RunCli("join " + Quote(FixturePath("h264_aac.mp4")) + " " +
                         Quote(FixturePath("mpeg4_mp3.avi")) + " --out " + Quote(folder));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("one kind"), std::string::npos) << r.output;
    r = RunCli("cut " + Quote(FixturePath("h264_aac.mp4")) + " --start 0 --end 1 --out " +
               Quote(folder + "/missing"));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("does not exist"), std::string::npos) << r.output;
    for (const char* bad : {"empty.mp4", "random.mp4", "truncated_moov_end.mp4", "nothing.mp4"}) {
        r = RunCli("cut " + Quote(FixturePath(bad)) + " --start 0 --end 1 --out " + Quote(folder));
        EXPECT_EQ(r.exit_code, 1) << bad;
        EXPECT_NE(r.output.find("morvane-cli:"), std::string::npos) << bad;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST(Cli, TruncatedFileIsSavedAsFarAsItGoesButNotCalledDone)
{
    // The index promises more than the file holds: what is there is copied
    // into a playable file, and the input is reported failed.
    const std::string folder = MakeScratchFolder("cli-truncated");
    CliResult r = RunCli("cut " + Quote(FixturePath("truncated_faststart.mp4")) +
                         " --start 0 --end 00:00:09.000 --out " + Quote(folder));
    EXPECT_EQ(r.exit_code, 1) << r.output;
    EXPECT_NE(r.output.find("input 1 failed"), std::string::npos) << r.output;
    const MediaFacts f = AnalyzeMedia(folder + "/truncated_faststart.mp4");
    EXPECT_TRUE(f.opened);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_GT(f.VideoSeconds(), 2.0);

    // The same file cut within what it still holds is fine.
    r = RunCli("cut " + Quote(FixturePath("truncated_faststart.mp4")) +
               " --start 0 --end 00:00:02.000 --out " + Quote(folder));
    EXPECT_EQ(r.exit_code, 0) << r.output;
}

TEST(Cli, PreviewWritesTheSnapshotOrSaysWhyNot)
{
    const std::string folder = MakeScratchFolder("cli-preview");
    CliResult r = RunCli("preview " + Quote(FixturePath("h264_aac.mp4")) + " 3.5 " + Quote(folder + "/p.jpg"));
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_GT(std::filesystem::file_size(folder + "/p.jpg"), 1000u);
    r = RunCli("preview " + Quote(FixturePath("audio_only.m4a")) + " 1 " + Quote(folder + "/a.jpg"));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("no picture"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(folder + "/a.jpg"));
}

TEST(Cli, StopSignalsEndAJobWithAPlayableFile)
{
    for (const int sig : {SIGTERM, SIGHUP, SIGINT}) {
        const std::string folder = MakeScratchFolder("cli-signal-" + std::to_string(sig));
        // Far more work than any machine finishes before the first progress line.
        std::vector<std::string> args = {"join"};
        for (int i = 0; i < 200; ++i)
            args.push_back(FixturePath("h264_aac_b.mp4"));
        for (const char* a : {"--out", folder.c_str(), "--title", "stopped", "--format", "0"})
            args.push_back(a);
        RunningCli cli(args);
        ASSERT_TRUE(cli.WaitFor("progress input=")) << cli.output;
        ASSERT_EQ(cli.Signal(sig), 0);
        EXPECT_EQ(cli.Wait(), 1) << sig;
        EXPECT_NE(cli.output.find("cancelled"), std::string::npos) << cli.output;
        EXPECT_NE(cli.output.find("input 200 stopped"), std::string::npos) << sig;
        const MediaFacts f = AnalyzeMedia(folder + "/stopped.mp4");
        EXPECT_TRUE(f.opened) << sig;
        EXPECT_EQ(f.decode_errors, 0) << sig;
        EXPECT_GT(f.video_frames, 0) << sig;
    }
}

TEST(Cli, EmptySpansAndBadNamesAreRefusedWithTheReason)
{
    const std::string folder = MakeScratchFolder("cli-spans");
    const std::string video = Quote(FixturePath("h264_aac.mp4"));
    struct Case {
        std::string args;
        std::string says;
    } cases[] = {
        {"cut " + video + " --start 00:00:05.000 --end 00:00:05.000 --out " + Quote(folder), "empty"},
        {"cut " + video + " --start 00:00:06.000 --end 00:00:02.000 --out " + Quote(folder), "empty"},
        {"cut " + video + " --start 00:00:12.000 --end 00:00:20.000 --out " + Quote(folder), "past the end"},
        {"cut " + Quote(folder + "/none.mp4") + " --start 0 --end 1 --out " + Quote(folder), "no such file"},
        {"cut " + Quote(FixturePath("text.mp4")) + " --start 0 --end 1 --out " + Quote(folder), "not a media file"},
        {"cut " + Quote(folder) + " --start 0 --end 1 --out " + Quote(folder), "not a regular file"},
        {"cut " + video + " --start 0 --end 1 --out " + Quote(FixturePath("text.mp4")), "is not a folder but a file"},
        {"probe " + Quote(folder + "/bad\x1b[2Jname.mp4"), "bad\\x1b[2Jname.mp4"},
    };
    for (const Case& c : cases) {
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.exit_code, 1) << c.args;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
        EXPECT_EQ(r.output.find('\x1b'), std::string::npos) << "control characters are shown escaped";
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder));

    // A pipe is refused at once instead of waiting for a writer that never comes.
    const std::string fifo = folder + "/pipe.mp4";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const CliResult r = RunCli("cut " + Quote(fifo) + " --start 0 --end 1 --out " + Quote(folder));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("not a regular file"), std::string::npos) << r.output;
}

TEST(Cli, APreviewNeverReplacesItsInputOrAnythingOnFailure)
{
    const std::string folder = MakeScratchFolder("cli-preview-safe");
    const std::string movie = folder + "/movie.mp4";
    std::filesystem::copy_file(FixturePath("h264_aac.mp4"), movie);
    const auto size = std::filesystem::file_size(movie);
    for (const std::string& out : {movie, folder + "/./movie.mp4", folder + "/shot.png"}) {
        const CliResult r = RunCli("preview " + Quote(movie) + " 1 " + Quote(out));
        EXPECT_EQ(r.exit_code, 1) << out << r.output;
        EXPECT_NE(r.output.find("refused"), std::string::npos) << r.output;
    }
    EXPECT_EQ(std::filesystem::file_size(movie), size);
    for (const char* seconds : {"abc", "-1", "nan", "inf", "2s"})
        EXPECT_EQ(RunCli("preview " + Quote(movie) + " " + seconds + " " + Quote(folder + "/p.jpg")).exit_code, 2)
            << seconds;

    // An existing picture is refused; with --overwrite a failed preview
    // leaves it as it was and a good one replaces it.
    const std::string shot = folder + "/shot.JPG";
    std::ofstream(shot) << "an older picture";
    CliResult r = RunCli("preview " + Quote(movie) + " 1.5 " + Quote(shot));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("exists; add --overwrite"), std::string::npos) << r.output;
    EXPECT_EQ(RunCli("preview --overwrite " + Quote(FixturePath("audio_only.m4a")) + " 1 " + Quote(shot)).exit_code, 1);
    EXPECT_EQ(std::filesystem::file_size(shot), 16u);
    EXPECT_EQ(RunCli("preview " + Quote(movie) + " 1.5 " + Quote(shot) + " --overwrite").exit_code, 0);
    EXPECT_GT(std::filesystem::file_size(shot), 1000u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2) << "no temporary file is left";
}

TEST(Cli, AFullDiskIsNamedAndLeavesNoFile)
{
    const SmallDisk disk("cli-full-disk", 256);
    if (disk.path().empty())
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    const CliResult r = RunCli("cut " + Quote(FixturePath("long_h264_aac.mp4")) + " --start 0 --end 00:00:30.000 --out " +
                               Quote(disk.path()));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("the disk is full"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("no output was written"), std::string::npos) << r.output;
    EXPECT_TRUE(std::filesystem::is_empty(disk.path()));
}

namespace {

int Shell(const std::string& command) { return std::system(command.c_str()); }

// A transport stream whose only key picture has lost the start of its data,
// as a damaged download has: the sound is whole, the picture unreadable.
std::string MakeLostKeyPictureTs(const std::string& folder)
{
    const std::string ts = folder + "/lostkey.ts";
    Shell("ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc=size=320x240:rate=25:duration=3 "
          "-f lavfi -i sine=sample_rate=44100:duration=3 -c:v libx264 -g 1000 -c:a aac " + Quote(ts));
    std::fstream file(ts, std::ios::in | std::ios::out | std::ios::binary);
    char packet[188];
    for (std::streamoff at = 0; file.read(packet, sizeof packet); at += sizeof packet) {
        const int pid = ((packet[1] & 0x1f) << 8) | static_cast<unsigned char>(packet[2]);
        if (pid == 0x100 && (packet[1] & 0x40)) {  // where the first picture starts
            std::fill(packet + 4, packet + sizeof packet, '\xff');
            file.seekp(at);
            file.write(packet, sizeof packet);
            break;
        }
    }
    return ts;
}

}  // namespace

TEST(Cli, EveryFailureSaysWhichInputAndWhyAndLeavesNoFile)
{
    const std::string folder = MakeScratchFolder("cli-reasons");
    const std::string out = MakeScratchFolder("cli-reasons-out");
    const std::string h264 = FixturePath("h264_aac.mp4");
    // Cut short at 30 %: the index still promises 10 s, the file holds 3 s.
    const std::string short_mp4 = folder + "/short.mp4";
    Shell("head -c $(( $(stat -c %s " + Quote(FixturePath("faststart.mp4")) + ") * 3 / 10 )) " +
          Quote(FixturePath("faststart.mp4")) + " > " + Quote(short_mp4));
    // Same extension and picture size, another video codec.
    const std::string mpeg4 = folder + "/mpeg4.mp4";
    Shell("ffmpeg -hide_banner -loglevel error -nostdin -y -i " + Quote(h264) + " -c:v mpeg4 -c:a copy " +
          Quote(mpeg4));
    const std::string lost = MakeLostKeyPictureTs(folder);
    // A Matroska download stopped at 30 %: no index, the header says 10 s.
    const std::string short_mkv = folder + "/short.mkv";
    Shell("ffmpeg -hide_banner -loglevel error -nostdin -y -i " + Quote(h264) + " -c copy " + Quote(folder + "/whole.mkv") +
          " && head -c $(( $(stat -c %s " + Quote(folder + "/whole.mkv") + ") * 3 / 10 )) " +
          Quote(folder + "/whole.mkv") + " > " + Quote(short_mkv));

    struct Case {
        std::string args;
        int exit_code;
        std::string says;
    };
    const Case cases[] = {
        {"cut " + Quote(lost) + " --start 0 --end 2", 1,
         "input 1 (" + lost + "): the file's picture cannot be read (damaged), only its sound"},
        {"cut " + Quote(short_mp4) + " --start 00:00:06.000 --end 00:00:08.000", 1,
         "input 1 (" + short_mp4 + "): the file holds nothing within the cut"},
        {"cut " + Quote(short_mkv) + " --start 00:00:06.000 --end 00:00:08.000", 1,
         "input 1 (" + short_mkv + "): the file holds nothing within the cut"},
        // What a cut-short file held of the span is kept, but the cut is not done.
        {"cut " + Quote(short_mkv) + " --start 00:00:01.000 --end 00:00:08.000", 1,
         "input 1 (" + short_mkv + "): the file holds less than it says (cut short or damaged)"},
        // An exact cut that fails leaves no empty file to take the next job's name.
        {"cut " + Quote(short_mp4) + " --exact --start 00:00:06.000 --end 00:00:08.000", 1,
         "input 1 (" + short_mp4 + "): the file holds nothing within the cut"},
        {"cut " + Quote(h264) + " --start 00:00:00.000 --end 4294967.297", 0, "input 1 done"},
        {"cut " + Quote(h264) + " --start 1193:02:47.296 --end 1193:02:48.000", 1, "past the end of"},
        {"cut " + Quote(h264) + " --start 00:00:-1.000 --end 2", 1, "must be times"},
        {"cut " + Quote(h264) + " --start -00:00:01.000 --end 2", 1, "must be times"},
        {"join " + Quote(h264) + " " + Quote(mpeg4), 1,
         "input 2 (" + mpeg4 + ") cannot be joined directly to the first file: its video is in another format"},
    };
    for (const Case& c : cases) {
        const CliResult r = RunCli(c.args + " --out " + Quote(out));
        EXPECT_EQ(r.exit_code, c.exit_code) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
        if (c.says.find("less than it says") != std::string::npos) {
            EXPECT_TRUE(AnalyzeMedia(out + "/short.mkv").opened) << c.args;
        } else if (c.exit_code != 0) {
            EXPECT_TRUE(std::filesystem::is_empty(out)) << c.args << ": a failed job left a file";
        } else {  // an end past 2^32 ms is past the file's end: the whole file, not one picture
            EXPECT_NEAR(AnalyzeMedia(out + "/h264_aac.mp4").VideoSeconds(), 10.0, 0.1) << c.args;
        }
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
    }
    // A time past 2^32 ms is that time, not one wrapped back to the start.
    const CliResult r = RunCli("cut " + Quote(h264) + " --start 4294967.296 --end 4294968 --out " + Quote(out));
    EXPECT_NE(r.output.find("the cut starts at 1193:02:47.296"), std::string::npos) << r.output;
}

TEST(Cli, NamesThatLookLikeAddressesAreLocalFiles)
{
    const std::string folder = MakeScratchFolder("cli-addresses");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    for (const char* name : {"pipe:0", "tcp:clip.mp4", "udp:clip.mp4", "fd:3.mp4", "cache:clip.mp4",
                             "subfile:clip.mp4", "unix:clip.mp4"}) {
        std::filesystem::copy_file(FixturePath("h264_aac.mp4"), name);
        // Standard input is empty: reading it instead of the file shows.
        CliResult r = RunCli(std::string("probe ") + Quote(name) + " < /dev/null");
        EXPECT_EQ(r.exit_code, 0) << name << "\n" << r.output;
        EXPECT_NE(r.output.find("width=320"), std::string::npos) << name << "\n" << r.output;
        if (std::string(name).find('.') != std::string::npos) {  // a direct cut needs the extension
            r = RunCli(std::string("cut ") + Quote(name) + " --start 0 --end 1 --out . --title cut < /dev/null");
            EXPECT_EQ(r.exit_code, 0) << name << "\n" << r.output;
        }
        std::filesystem::remove(folder + "/" + name);
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            std::filesystem::remove(entry.path());
    }
    std::filesystem::current_path(before);
}

TEST(Cli, APreviewNameIsWrittenWithItsOwnBytesWhateverTheLocale)
{
    const std::string folder = MakeScratchFolder("cli-preview-bytes");
    setenv("LC_ALL", "C", 1);  // a locale in which é is no character at all
    for (const std::string& name : {std::string("caf\xc3\xa9.jpg"), std::string("lat\xe9.jpg")}) {
        const CliResult r =
            RunCli("preview " + Quote(FixturePath("h264_aac.mp4")) + " 1 " + Quote(folder + "/" + name));
        EXPECT_EQ(r.exit_code, 0) << r.output;
        EXPECT_TRUE(std::filesystem::exists(folder + "/" + name)) << r.output;
    }
    unsetenv("LC_ALL");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 2);
}

TEST(Cli, AnOutputFolderRemovedMidJobFailsTheJob)
{
    const std::string folder = MakeScratchFolder("cli-output-gone");
    std::vector<std::string> args = {"join"};
    for (int i = 0; i < 2; ++i)
        args.push_back(FixturePath("long_h264_aac.mp4"));
    for (const char* a : {"--out", folder.c_str(), "--title", "gone", "--format", "0"})
        args.push_back(a);
    RunningCli cli(args);
    ASSERT_TRUE(cli.WaitFor("progress input=")) << cli.output;
    std::filesystem::remove_all(folder);
    EXPECT_EQ(cli.Wait(), 1) << cli.output;
    EXPECT_NE(cli.output.find("was moved or deleted during the job"), std::string::npos) << cli.output;
    EXPECT_EQ(cli.output.find(" done "), std::string::npos) << "no input is done:\n" << cli.output;
}

// Spans from the command line: one file or a file each, and the mistakes a
// user makes with them refused before anything is written.
TEST(Cli, SpansGoIntoOneFileOrAFileEach)
{
    const std::string folder = MakeScratchFolder("cli-spans");
    const std::string file = Quote(FixturePath("h264_aac.mp4"));
    const std::string out = " --out " + Quote(folder);
    const struct {
        std::string args;
        int exit_code;
        std::vector<std::string> says;
    } kCases[] = {
        {"--span 0-1 --span 2-3 --title one", 0, {"span 2 done", "output=" + folder + "/one.mp4"}},
        {"--span 2-3 --span 0-1 --separate --title sep", 0,
         {"span 1 done", "output=" + folder + "/sep-1.mp4", "output=" + folder + "/sep-2.mp4"}},
        {"--span 0-1 --span 2-3 --format 0 --title enc", 0, {"output=" + folder + "/enc.mp4"}},
        {"--span 0-2 --span 1-3 --title x", 1, {"spans 1 and 2 overlap"}},
        {"--span 0.2-1 --span 2-2.6 --exact --title ex", 0, {"span 2 done", "output=" + folder + "/ex.mp4"}},
        {"--span 2-1 --title x", 1, {"span 1 is empty"}},
        {"--span 1:00:00-1:00:01 --title x", 1, {"span 1 starts at 01:00:00.000, past the end"}},
        {"--span 0.5 --title x", 2, {"--span takes START-END"}},
        {"--span 0-1 --start 0 --end 1 --title x", 2, {"do not go together"}},
        {"--start 0 --end 1 --separate --title x", 2, {"--separate goes with --span"}},
        {"--span 0-1 --span 2-3 --part-chapters --title pc", 0, {"output=" + folder + "/pc.mp4"}},
        {"--span 0-1 --span 2-3 --part-chapters --format 2 --title pcavi", 0,
         {"a .avi file holds no chapters: --part-chapters is left out"}},
        {"--start 0 --end 1 --part-chapters --title x", 2, {"--part-chapters names the parts of one file"}},
        {"--span 0-1 --span 2-3 --separate --part-chapters --title x", 2, {"without --separate"}},
    };
    for (const auto& c : kCases) {
        const CliResult r = RunCli("cut " + file + " " + c.args + out);
        EXPECT_EQ(r.exit_code, c.exit_code) << c.args << "\n" << r.output;
        for (const std::string& said : c.says)
            EXPECT_NE(r.output.find(said), std::string::npos) << c.args << "\n" << r.output;
    }
    EXPECT_FALSE(std::filesystem::exists(folder + "/x.mp4"));
    EXPECT_NEAR(AnalyzeMedia(folder + "/one.mp4").VideoSeconds(), 2.0, 0.3);
    EXPECT_NEAR(AnalyzeMedia(folder + "/sep-1.mp4").VideoSeconds(), 1.0, 0.25);  // from a key picture
    EXPECT_NEAR(AnalyzeMedia(folder + "/ex.mp4").VideoSeconds(), 1.4, 0.05);  // to the picture
}

namespace {

// Each line of the tool's standard output read as one JSON object.
std::vector<nlohmann::json> JsonLines(const std::string& output)
{
    std::vector<nlohmann::json> objects;
    size_t at = 0;
    for (size_t end; (end = output.find('\n', at)) != std::string::npos; at = end + 1)
        objects.push_back(nlohmann::json::parse(output.substr(at, end - at)));
    return objects;
}

// The tool's standard output alone, and its exit code.
CliResult StandardOutputOf(const std::string& arguments)
{
    return RunShell(std::string(std::getenv("MORVANE_CLI")) + " " + arguments + " 2>/dev/null");
}

}  // namespace

// A length the file does not say (an ASF written to a pipe, with three
// picture streams) is unknown, not a number.
TEST(Cli, AnUnknownLengthIsPrintedAsUnknown)
{
    const std::string file = Quote(FixturePath("unknown_length.wmv"));
    CliResult r = RunCli("probe " + file);
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("duration_us=unknown\n"), std::string::npos) << r.output;
    r = StandardOutputOf("probe --json " + file);
    ASSERT_EQ(JsonLines(r.output).size(), 1u) << r.output;
    EXPECT_TRUE(JsonLines(r.output)[0]["duration_us"].is_null()) << r.output;
}

// --json: every name comes back byte for byte, however awkward, and the
// result names every output with what it holds, each failure with its
// reason and each track left out.
TEST(Cli, JsonLinesCarryNamesAndResultsExactly)
{
    const std::string folder = MakeScratchFolder("cli-json");
    const std::string name = folder + "/a b\\c\"d\te \xc3\xa9.mp4";
    std::filesystem::copy_file(FixturePath("h264_aac.mp4"), name);

    CliResult r = StandardOutputOf("probe --json " + Quote(name) + " " + Quote(FixturePath("text.mp4")));
    EXPECT_EQ(r.exit_code, 1);
    std::vector<nlohmann::json> lines = JsonLines(r.output);
    ASSERT_EQ(lines.size(), 2u) << r.output;
    EXPECT_EQ(lines[0]["file"], name);
    EXPECT_EQ(lines[0]["width"], 320);
    EXPECT_EQ(lines[0]["video_codec"], "h264");
    ASSERT_GE(lines[0]["streams"].size(), 2u);
    EXPECT_EQ(lines[0]["streams"][0]["kind"], "video");
    EXPECT_EQ(lines[0]["streams"][0]["main"], true);
    EXPECT_LT(lines[1]["result"].get<int>(), 0);
    EXPECT_EQ(lines[1]["error"], "not a media file the program can open");

    r = StandardOutputOf("cut --json " + Quote(name) + " --span 0-1 --span 2-3 --separate --out " + Quote(folder));
    EXPECT_EQ(r.exit_code, 0) << r.output;
    lines = JsonLines(r.output);
    ASSERT_FALSE(lines.empty());
    const nlohmann::json result = lines.back()["result"];
    EXPECT_EQ(result["ok"], true);
    ASSERT_EQ(result["outputs"].size(), 2u) << result;
    for (int span = 1; span <= 2; ++span) {
        const nlohmann::json& output = result["outputs"][span - 1];
        // The title drops the backslash, as every title does.
        EXPECT_EQ(output["file"], folder + "/a bc\"d\te \xc3\xa9-" + std::to_string(span) + ".mp4");
        EXPECT_EQ(output["holds"], nlohmann::json::array({span}));
        EXPECT_TRUE(std::filesystem::exists(output["file"].get<std::string>()));
        EXPECT_EQ(result["inputs"][span - 1]["status"], "done");
        EXPECT_EQ(result["inputs"][span - 1]["file"], name);
    }

    r = StandardOutputOf("cut --json " + Quote(FixturePath("timecode.mp4")) + " --start 1 --end 2 -o " +
                         Quote(folder + "/tc.mp4"));
    EXPECT_EQ(r.exit_code, 0) << r.output;
    const nlohmann::json dropped = JsonLines(r.output).back()["result"]["dropped_tracks"];
    ASSERT_EQ(dropped.size(), 1u) << r.output;
    EXPECT_EQ(dropped[0]["kind"], "data");
    EXPECT_EQ(dropped[0]["codec"], "tmcd");
    EXPECT_EQ(dropped[0]["reason"], "timecode_not_copied");

    // A failed input: its reason, and the part the output holds.
    r = StandardOutputOf("cut --json " + Quote(FixturePath("truncated_faststart.mp4")) +
                         " --start 0 --end 9 --out " + Quote(folder));
    EXPECT_EQ(r.exit_code, 1);
    const nlohmann::json failed = JsonLines(r.output).back()["result"];
    EXPECT_EQ(failed["ok"], false);
    EXPECT_EQ(failed["inputs"][0]["status"], "failed");
    EXPECT_FALSE(failed["inputs"][0]["reason"].get<std::string>().empty());
    EXPECT_FALSE(failed["error"].get<std::string>().empty());
    // A refusal before any job is a result too.
    r = StandardOutputOf("cut --json " + Quote(name) + " --start 20 --end 30 --out " + Quote(folder));
    EXPECT_EQ(r.exit_code, 1);
    lines = JsonLines(r.output);
    ASSERT_EQ(lines.size(), 1u) << r.output;
    EXPECT_NE(lines[0]["result"]["error"].get<std::string>().find("past the end"), std::string::npos);
}

// -o names the file exactly; an existing one is refused, or with --overwrite
// replaced by the finished new file, never by a part of one.
TEST(Cli, AnOutputFileIsNamedExactlyAndReplacedOnlyWhenComplete)
{
    const std::string folder = MakeScratchFolder("cli-output-file");
    const std::string video = Quote(FixturePath("h264_aac.mp4"));
    const std::string file = folder + "/exact name.mp4";
    const struct {
        std::string args;
        int exit_code;
        std::string says;
    } kCases[] = {
        {"cut " + video + " --start 0 --end 2 -o " + Quote(file), 0, "output=" + file + "\n"},
        {"cut " + video + " --start 0 --end 4 -o " + Quote(file), 1, "exists; add --overwrite"},
        {"cut " + video + " --start 0 --end 4 --output=" + Quote(folder + "/other.mkv"), 1, "writes a .mp4 file"},
        {"cut " + video + " --start 0 --end 4 -o " + Quote(FixturePath("h264_aac.mp4")) + " --overwrite", 1,
         "is an input of the job"},
        {"cut " + video + " --start 0 --end 4 -o " + Quote(folder) + " --overwrite", 1, "cannot name it"},
        {"cut " + video + " --start 0 --end 4 -o " + Quote(file) + " --out " + Quote(folder), 2, "does not go with"},
        {"cut " + video + " --span 0-1 --span 2-3 --separate -o " + Quote(file), 2, "-o names one file"},
        {"cut " + video + " --start 0 --end 4 --out " + Quote(folder) + " --overwrite", 2, "--overwrite goes with -o"},
        {"preview " + video + " 1 x.jpg -o y.jpg", 2, "-o does not apply to preview"},
    };
    for (const auto& c : kCases) {
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.exit_code, c.exit_code) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
    }
    EXPECT_NEAR(AnalyzeMedia(file).VideoSeconds(), 2.0, 0.3);
    EXPECT_EQ(RunCli("cut " + video + " --start 0 --end 4 -o " + Quote(file) + " --overwrite").exit_code, 0);
    EXPECT_NEAR(AnalyzeMedia(file).VideoSeconds(), 4.0, 0.3);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "no partial file is left";
}

// Killed or stopped midway, an --overwrite job leaves the old file as it was.
TEST(Cli, AnOverwriteStoppedMidwayKeepsTheOldFile)
{
    for (const int sig : {SIGKILL, SIGTERM}) {
        const std::string folder = MakeScratchFolder("cli-overwrite-" + std::to_string(sig));
        const std::string old = folder + "/kept.mp4";
        std::filesystem::copy_file(FixturePath("h264_aac.mp4"), old);
        const auto size = std::filesystem::file_size(old);
        std::vector<std::string> args = {"join"};
        for (int i = 0; i < 200; ++i)
            args.push_back(FixturePath("h264_aac_b.mp4"));
        for (const char* a : {"-o", old.c_str(), "--overwrite", "--format", "0"})
            args.push_back(a);
        RunningCli cli(args);
        ASSERT_TRUE(cli.WaitFor("progress input=")) << cli.output;
        ASSERT_EQ(cli.Signal(sig), 0);
        EXPECT_EQ(cli.Wait(), sig == SIGKILL ? -1 : 1) << cli.output;
        EXPECT_EQ(std::filesystem::file_size(old), size) << sig;
        EXPECT_EQ(AnalyzeMedia(old).decode_errors, 0);
        if (sig == SIGTERM) {
            EXPECT_NE(cli.output.find("kept.mp4 was left as it was"), std::string::npos) << cli.output;
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "the partial is removed";
        }
    }
}

// A reader that stops reading (`| head -1`) stops the job as Ctrl-C does:
// no death by SIGPIPE, the file kept is playable and named on the error output.
TEST(Cli, AClosedPipeStopsTheJobWithAPlayableFile)
{
    const std::string folder = MakeScratchFolder("cli-pipe");
    std::string command = std::getenv("MORVANE_CLI") + std::string(" join");
    for (int i = 0; i < 200; ++i)
        command += " " + Quote(FixturePath("h264_aac_b.mp4"));
    command += " --format 0 -o " + Quote(folder + "/piped.mp4");
    const CliResult r = RunShell("bash -c " + Quote(command + " 2>" + folder + "/err | head -1; exit ${PIPESTATUS[0]}"));
    std::ifstream err_file(folder + "/err");
    const std::string err((std::istreambuf_iterator<char>(err_file)), {});
    EXPECT_EQ(r.exit_code, 1) << r.output << err;
    EXPECT_EQ(r.output.rfind("progress input=", 0), 0u) << r.output;
    EXPECT_NE(err.find("standard output was closed"), std::string::npos) << err;
    EXPECT_NE(err.find("output=" + folder + "/piped.mp4"), std::string::npos) << err;
    const MediaFacts f = AnalyzeMedia(folder + "/piped.mp4");
    EXPECT_TRUE(f.opened);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_GT(f.video_frames, 0);
}

// One cut on several files, in each mode: each file into its own output,
// one too short for the cut reported for itself while the others go on.
TEST(Cli, OneCutOfSeveralFilesGoesOnPastAFileTooShort)
{
    const std::string files = Quote(FixturePath("h264_aac.mp4")) + " " + Quote(FixturePath("h264_640.mp4")) + " " +
                              Quote(FixturePath("long_h264_aac.mp4"));
    for (const char* mode : {"", "--exact", "--format 0"}) {
        const std::string folder = MakeScratchFolder(std::string("cli-batch") + (mode[0] ? mode + 2 : "-direct"));
        const CliResult r = RunCli("cut " + files + " --start 4 --end 6 --title batch " + mode + " --out " + Quote(folder));
        EXPECT_EQ(r.exit_code, 1) << mode << "\n" << r.output;
        EXPECT_NE(r.output.find("files done=2 failed=1 not_started=0"), std::string::npos) << mode << "\n" << r.output;
        EXPECT_NE(r.output.find("past the end of " + FixturePath("h264_640.mp4")), std::string::npos) << r.output;
        for (const char* name : {"/batch-1.mp4", "/batch-3.mp4"}) {
            const MediaFacts f = AnalyzeMedia(folder + name);
            EXPECT_EQ(f.decode_errors, 0) << mode << name;
            EXPECT_NEAR(f.VideoSeconds(), 2.0, 0.3) << mode << name;
        }
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2) << mode;
    }
    EXPECT_EQ(RunCli("cut " + files + " --start 4 --end 6 -o x.mp4").exit_code, 2);
}
