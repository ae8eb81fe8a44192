// SPDX-License-Identifier: GPL-3.0-or-later
#include "queue_store.h"

#include "app_directory.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

constexpr int kVersion = 1;
constexpr qint64 kMaxFileBytes = 8 << 20;  // thousands of jobs; anything larger is not ours

const char* const kStates[] = {"queued", "running", "done", "failed", "stopped"};

QJsonArray Strings(const std::vector<std::string>& texts)
{
    QJsonArray array;
    for (const std::string& text : texts)
        array.append(QString::fromStdString(text));
    return array;
}

std::vector<std::string> StringsOf(const QJsonValue& value)
{
    std::vector<std::string> texts;
    for (const QJsonValue& item : value.toArray())
        if (item.isString() && !item.toString().isEmpty())
            texts.push_back(item.toString().toStdString());
    return texts;
}

QJsonObject ChoiceJson(const EncodingChoice& c)
{
    return {{"direct", c.direct},
            {"exact", c.exact},
            {"part_chapters", c.part_chapters},
            {"video_codec", QString::fromStdString(c.video_codec_name)},
            {"audio_codec", QString::fromStdString(c.audio_codec_name)},
            {"video_bit_rate", c.video_bit_rate},
            {"width", c.width},
            {"height", c.height},
            {"fps", QString::fromStdString(c.fps_name)},
            {"audio_bit_rate", c.audio_bit_rate},
            {"sample_rate", c.sample_rate},
            {"channels", c.channels}};
}

EncodingChoice ChoiceOf(const QJsonObject& o)
{
    EncodingChoice c;
    c.direct = o.value("direct").toBool();
    c.exact = o.value("exact").toBool();
    c.part_chapters = o.value("part_chapters").toBool();
    c.video_codec_name = o.value("video_codec").toString().toStdString();
    c.audio_codec_name = o.value("audio_codec").toString().toStdString();
    c.video_bit_rate = o.value("video_bit_rate").toInt();
    c.width = o.value("width").toInt();
    c.height = o.value("height").toInt();
    c.fps_name = o.value("fps").toString().toStdString();
    c.audio_bit_rate = o.value("audio_bit_rate").toInt();
    c.sample_rate = o.value("sample_rate").toInt();
    c.channels = o.value("channels").toInt();
    return c;
}

QJsonObject JobJson(const QueuedJob& job)
{
    QJsonArray spans;
    for (const CutSpan& s : job.spans)
        spans.append(QJsonArray{static_cast<qint64>(s.start_ms), static_cast<qint64>(s.end_ms)});
    return {{"kind", job.kind == QueuedKind::Join ? "join" : "cut"},
            {"files", Strings(job.files)},
            {"spans", spans},
            {"remove", job.remove_spans},
            {"separate", job.separate},
            {"choice", ChoiceJson(job.choice)},
            {"folder", QString::fromStdString(job.target.folder)},
            {"title", QString::fromStdString(job.target.file_title)},
            {"extension", QString::fromStdString(job.target.extension)},
            {"state", kStates[static_cast<int>(job.state)]},
            {"outputs", Strings(job.outputs)},
            {"problem", static_cast<int>(job.outcome.problem)},
            {"code", job.outcome.code},
            {"problem_file", QString::fromStdString(job.outcome.file)},
            {"cut_at_keys", job.cut_at_keys}};
}

bool SpansOf(const QJsonValue& value, std::vector<CutSpan>* spans)
{
    for (const QJsonValue& item : value.toArray()) {
        const QJsonArray pair = item.toArray();
        if (pair.size() != 2 || !pair[0].isDouble() || !pair[1].isDouble())
            return false;
        const CutSpan span{static_cast<int64_t>(pair[0].toDouble()), static_cast<int64_t>(pair[1].toDouble())};
        if (span.start_ms < 0 || span.end_ms <= span.start_ms)
            return false;
        spans->push_back(span);
    }
    return true;
}

QueuedState StateOf(const QString& text)
{
    for (int i = 0; i < static_cast<int>(std::size(kStates)); ++i)
        if (text == QLatin1String(kStates[i]))
            return static_cast<QueuedState>(i);
    return QueuedState::Queued;
}

// A job the program was running when it ended did not finish.
void MarkInterrupted(QueuedJob* job)
{
    if (job->state != QueuedState::Running)
        return;
    job->state = QueuedState::Stopped;
    job->outcome = {QueuedProblem::Interrupted, 0, {}};
}

bool JobOf(const QJsonObject& o, QueuedJob* job)
{
    const QString kind = o.value("kind").toString();
    if (kind != QLatin1String("cut") && kind != QLatin1String("join"))
        return false;
    job->kind = kind == QLatin1String("join") ? QueuedKind::Join : QueuedKind::Cut;
    job->files = StringsOf(o.value("files"));
    if (job->files.empty() || (job->kind == QueuedKind::Cut && job->files.size() != 1))
        return false;
    if (!SpansOf(o.value("spans"), &job->spans) || (job->kind == QueuedKind::Cut && job->spans.empty()))
        return false;
    job->remove_spans = o.value("remove").toBool();
    job->separate = o.value("separate").toBool();
    job->choice = ChoiceOf(o.value("choice").toObject());
    job->target = {o.value("folder").toString().toStdString(), o.value("title").toString().toStdString(),
                   o.value("extension").toString().toStdString()};
    if (job->target.folder.empty() || job->target.file_title.empty())
        return false;
    job->state = StateOf(o.value("state").toString());
    job->outputs = StringsOf(o.value("outputs"));
    const int problem = o.value("problem").toInt();
    if (problem >= 0 && problem <= static_cast<int>(QueuedProblem::Interrupted))
        job->outcome = {static_cast<QueuedProblem>(problem), o.value("code").toInt(),
                        o.value("problem_file").toString().toStdString()};
    job->cut_at_keys = o.value("cut_at_keys").toBool();
    MarkInterrupted(job);
    return true;
}

}  // namespace

QByteArray QueueToJson(const std::vector<QueuedJob>& jobs)
{
    QJsonArray list;
    for (const QueuedJob& job : jobs)
        list.append(JobJson(job));
    return QJsonDocument(QJsonObject{{"version", kVersion}, {"jobs", list}}).toJson(QJsonDocument::Indented);
}

bool QueueFromJson(const QByteArray& json, std::vector<QueuedJob>* jobs)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject() || doc.object().value("version").toInt() != kVersion)
        return false;
    jobs->clear();
    uint64_t id = 1;
    for (const QJsonValue& item : doc.object().value("jobs").toArray()) {
        QueuedJob job;
        if (!item.isObject() || !JobOf(item.toObject(), &job))
            continue;
        job.id = id++;
        jobs->push_back(std::move(job));
    }
    return true;
}

QString QueueFilePath()
{
    return platform::GetAppDirectory(platform::AppFiles::Settings) + QStringLiteral("/queue.json");
}

bool SaveQueue(const QString& path, const std::vector<QueuedJob>& jobs)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QueueToJson(jobs));
    return file.commit();
}

bool LoadQueue(const QString& path, std::vector<QueuedJob>* jobs)
{
    jobs->clear();
    const QFileInfo info(path);
    if (!info.exists())
        return true;
    QFile file(path);
    if (!info.isFile() || info.size() > kMaxFileBytes || !file.open(QIODevice::ReadOnly))
        return false;
    return QueueFromJson(file.readAll(), jobs);
}
