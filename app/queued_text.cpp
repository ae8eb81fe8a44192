// SPDX-License-Identifier: GPL-3.0-or-later
#include "queued_text.h"

#include "conversion_job.h"
#include "language_file.h"
#include "media_input.h"
#include "ui_strings.h"

namespace queued_text {

namespace {

QString Text(const char* section, const char* key)
{
    return i18n::LanguageFile::ReadText(i18n::g_uiStrings.Language(), QString::fromLatin1(section),
                                        QString::fromLatin1(key));
}

QString FailureText(FailureReason reason)
{
    static const char* const kKeys[] = {"yy1", "yy2", "yy3", "yy4", "yy5", "yy6", "yy7", "yy8", "yy9", "yy10", "yy11"};
    const int n = static_cast<int>(reason);
    return n >= 1 && n <= 11 ? Text("TISHI", kKeys[n - 1]) : Text("TISHI", "sb");
}

QString RefusalText(LaunchRefusal refusal)
{
    switch (refusal) {
    case LaunchRefusal::TooFewInputs: return Text("TISHI", "zslgwj");
    case LaunchRefusal::TooManyInputs: return Text("TISHI", "hbtdwj");
    case LaunchRefusal::NotSameKind:
    case LaunchRefusal::DiffersFromFirst:
    case LaunchRefusal::TrackLayoutDiffers: return Text("TISHI", "bnzjhb");
    case LaunchRefusal::NoFileExtension: return Text("TISHI", "zjjqwkzm");
    case LaunchRefusal::NeedsReencoding: return Text("TISHI", "zncxbm");
    case LaunchRefusal::OutputNotCreated: return Text("TISHI", "bncjwj");
    default: return Text("TISHI", "sjdwx");
    }
}

}  // namespace

QString StateText(QueuedState state)
{
    switch (state) {
    case QueuedState::Queued: return Text("JIEMIAN", "dlpd");
    case QueuedState::Running: return Text("JIEMIAN", "dlyx");
    case QueuedState::Done: return Text("TISHI", "wc");
    case QueuedState::Failed: return Text("TISHI", "sb");
    case QueuedState::Stopped: return Text("JIEMIAN", "dltz");
    }
    return {};
}

QString ModeText(const QueuedJob& job)
{
    const QString kind = Text("JIEMIAN", job.kind == QueuedKind::Join ? "dlhb" : "dljq");
    QString mode;
    if (!job.choice.direct)
        mode = Text("JIEMIAN", "msbm").arg(QString::fromStdString(job.target.extension));
    else
        mode = Text("JIEMIAN", job.kind == QueuedKind::Cut && job.choice.exact ? "msjq" : "mszj");
    return kind + QStringLiteral(", ") + mode;
}

QString OutcomeText(const QueuedOutcome& outcome)
{
    switch (outcome.problem) {
    case QueuedProblem::None: return {};
    case QueuedProblem::Unopened:
        return FailureText(outcome.code == kProbeNoSuchFile || outcome.code == kProbeUnreadable
                              ? FailureReason::Unreadable
                              : FailureReason::NotMedia);
    case QueuedProblem::TooShort: return Text("TISHI", "wjtd");
    case QueuedProblem::NothingLeft: return Text("TISHI", "qcqb");
    case QueuedProblem::Refused: return RefusalText(static_cast<LaunchRefusal>(outcome.code));
    case QueuedProblem::InputFailed: return FailureText(static_cast<FailureReason>(outcome.code));
    case QueuedProblem::Stopped: return Text("TISHI", "tzjq");
    case QueuedProblem::Interrupted: return Text("TISHI", "dlzd");
    }
    return {};
}

QString ReasonText(const QueuedJob& job)
{
    if (job.outcome.problem != QueuedProblem::None)
        return OutcomeText(job.outcome);
    return job.cut_at_keys ? Text("TISHI", "gjzjq") : QString();
}

QString FileName(const std::string& path)
{
    const QString text = QString::fromStdString(path);
    return text.mid(text.lastIndexOf(QLatin1Char('/')) + 1);
}

QString TitleOf(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

}  // namespace queued_text
