// SPDX-License-Identifier: GPL-3.0-or-later
// Where a job's output goes: --out's folder and title, or -o's exact file.
#include "commands.h"

#include <cstdio>

#include "job_setup.h"

namespace cli {

namespace {

bool CheckOutputFolder(const std::string& folder, std::string* problem)
{
    std::error_code ec;
    const auto path = std::filesystem::u8path(folder);
    if (!folder.empty() && std::filesystem::is_directory(path, ec))
        return true;
    if (!folder.empty() && std::filesystem::exists(path, ec))
        *problem = "the output folder is not a folder but a file: " + Shown(folder);
    else
        *problem = "the output folder does not exist: " + Shown(folder);
    return false;
}

}  // namespace

std::string TitleOf(const std::string& path)
{
    const std::string name = FileNameOf(path);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    const auto pa = std::filesystem::u8path(a), pb = std::filesystem::u8path(b);
    if (std::filesystem::equivalent(pa, pb, ec))
        return true;
    return std::filesystem::absolute(pa, ec).lexically_normal() == std::filesystem::absolute(pb, ec).lexically_normal();
}

bool CheckOutputOptions(const Arguments& args, std::string* problem)
{
    if (args.Has("output") && (args.Has("out") || args.Has("title")))
        *problem = "-o names the output file itself; it does not go with --out or --title";
    else if (args.Has("output") && args.Has("separate"))
        *problem = "-o names one file, but --separate writes one a span: use --out (and --title)";
    else if (args.Has("overwrite") && !args.Has("output"))
        *problem = "--overwrite goes with -o FILE (--out never overwrites: it numbers the name)";
    else if (!args.Has("output") && !args.Has("out"))
        *problem = std::string(args.command->name) + " needs --out FOLDER or -o FILE";
    return problem->empty();
}

bool Exists(const std::filesystem::path& path)
{
    std::error_code ec;
    return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found;
}

int ChooseTarget(const Arguments& args, const std::vector<std::string>& inputs, const std::string& written_ext,
                 const std::string& format_ext, const std::string& title_wanted, OutputTarget* target,
                 Replacing* replacing)
{
    std::string problem;
    if (!args.Has("output")) {
        const std::string folder = args.Value("out");
        if (!CheckOutputFolder(folder, &problem))
            return Fail(problem);
        std::string title = CleanFileTitle(title_wanted);
        // An empty title would write a hidden ".mp4": the input's name, or "joined".
        if (title.empty())
            title = inputs.size() == 1 ? CleanFileTitle(TitleOf(inputs[0])) : "joined";
        *target = {folder, title, format_ext};
        return kExitOk;
    }
    const std::string name = args.Value("output");
    const std::string file = FileNameOf(name);
    if (file.size() <= written_ext.size() || file.compare(file.size() - written_ext.size(), std::string::npos,
                                                          written_ext) != 0 || written_ext.empty())
        return Fail("refused: this job writes a " + (written_ext.empty() ? std::string("file without extension")
                                                                         : written_ext + " file") +
                    " (a direct job keeps its input's container; --format chooses another), so -o " + Shown(name) +
                    " cannot name it");
    const std::filesystem::path path = std::filesystem::u8path(name);
    const std::string folder = path.has_parent_path() ? path.parent_path().u8string() : ".";
    if (!CheckOutputFolder(folder, &problem))
        return Fail(problem);
    for (const std::string& input : inputs)
        if (SameFile(input, name))
            return Fail("refused: -o " + Shown(name) + " is an input of the job");
    std::string title = file.substr(0, file.size() - written_ext.size());
    if (Exists(path)) {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec))
            return Fail("refused: -o " + Shown(name) + " is a folder");
        if (!args.Has("overwrite"))
            return Fail("refused: " + Shown(name) + " exists; add --overwrite to replace it once the new file is complete");
        title = "." + title + ".partial";
        replacing->replace = true;
    }
    replacing->target = name;
    *target = {folder, title, format_ext};
    return kExitOk;
}

bool CreatedAsNamed(ConversionJob* job, const OutputTarget& target, const Replacing& replacing,
                    const std::string& written_ext, const std::string& created)
{
    if (replacing.target.empty() || replacing.replace || created == target.folder + "/" + target.file_title + written_ext)
        return true;
    ReleaseReservedOutput(job);
    return false;
}

}  // namespace cli
