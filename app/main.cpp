// SPDX-License-Identifier: GPL-3.0-or-later
#include "morvane_app.h"

#include <QCommandLineParser>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kExitUsage = 2;

// Options the toolkit itself reads (-platform xcb, -style ...): taken, not
// shown in the help.
void AddToolkitOptions(QCommandLineParser* parser)
{
    for (const char* name : {"platform", "style", "stylesheet", "display", "qwindowgeometry", "qwindowtitle",
                             "qwindowicon", "platformpluginpath", "platformtheme"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser->addOption(option);
    }
    for (const char* name : {"reverse", "session"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser->addOption(option);
    }
}

// Without a display the toolkit aborts with a message about plugins that
// misleads; say what is missing instead.
bool HasGraphicalSession(const QCommandLineParser& parser)
{
    return parser.isSet(QStringLiteral("platform")) || std::getenv("QT_QPA_PLATFORM") ||
           std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv)
{
    // Read before the toolkit starts, so --help and --version need no display.
    QCoreApplication::setApplicationName(QStringLiteral("morvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MORVANE_VERSION));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Cuts a span out of a video file, or joins video files into one.\n"
                       "The first FILE opens in the cut tab, every FILE in the join list.\n"
                       "\"--\" before the files lets a name start with \"-\"."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    AddToolkitOptions(&parser);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("video files to open"),
                                 QStringLiteral("[--] [FILE...]"));
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "morvane: %s (see morvane --help)\n", qPrintable(parser.errorText()));
        return kExitUsage;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        // Without a running application the parser cannot know the program's name.
        std::fputs(qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("morvane"))),
                   stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("morvane %s\n", MORVANE_VERSION);
        return 0;
    }
    if (!HasGraphicalSession(parser)) {
        std::fprintf(stderr, "morvane: no graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set): the "
                             "window needs one; morvane-cli cuts and joins without one\n");
        return 1;
    }
    CMorvaneApp app(argc, argv);
    const int code = app.InitInstance();
    app.ExitInstance();
    return code;
}
