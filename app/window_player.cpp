// SPDX-License-Identifier: GPL-3.0-or-later
#include "window_player.h"

#include "media_input.h"
#include "preview_sound.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QElapsedTimer>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>

namespace {

// Sound written ahead of what is heard: enough to ride out a slow picture,
// short enough that a stop is heard at once.
constexpr int kAheadMs = 250;
// Ticks the output's clock may stand still while it holds sound before it
// is taken for stuck (about 1.5 s at kTickMs).
constexpr int kStuckTicks = 150;

// The desktop's default sound output.
class DeviceOutput : public SoundOutput {
public:
    bool Start(int rate, int channels) override
    {
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull())
            return false;
        QAudioFormat format;
        format.setSampleRate(rate);
        format.setChannelCount(channels);
        format.setSampleFormat(QAudioFormat::Int16);
        if (!device.isFormatSupported(format))
            return false;
        m_sink = std::make_unique<QAudioSink>(device, format);
        m_sink->setBufferSize(format.bytesForDuration(kAheadMs * 1000));
        m_io = m_sink->start();
        return m_io && m_sink->error() == QAudio::NoError;
    }
    long long BytesFree() const override { return m_sink ? m_sink->bytesFree() : 0; }
    void Write(const char* data, long long bytes) override
    {
        if (m_io)
            m_io->write(data, bytes);
    }
    long long PlayedUs() const override { return m_sink ? m_sink->processedUSecs() : 0; }
    void Stop() override
    {
        if (m_sink)
            m_sink->stop();
        m_io = nullptr;
    }

private:
    std::unique_ptr<QAudioSink> m_sink;
    QIODevice* m_io = nullptr;
};

SoundOutputFactory& OutputFactory()
{
    static SoundOutputFactory factory;
    return factory;
}

}  // namespace

void SetSoundOutputFactory(SoundOutputFactory factory) { OutputFactory() = std::move(factory); }

TimedOutput::TimedOutput(std::function<long long()> now_us) : m_nowUs(std::move(now_us))
{
    if (!m_nowUs) {
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        m_nowUs = [clock] { return clock->nsecsElapsed() / 1000; };
    }
}

bool TimedOutput::Start(int, int)
{
    m_startUs = m_nowUs();
    return true;
}

long long TimedOutput::PlayedUs() const { return m_nowUs() - m_startUs; }

WindowPlayer::WindowPlayer(QObject* parent) : QObject(parent)
{
    m_timer.setInterval(kTickMs);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &WindowPlayer::Tick);
}

WindowPlayer::~WindowPlayer() { Stop(); }

bool WindowPlayer::Play(const std::string& path, long long from_ms, long long to_ms)
{
    Stop();
    if (to_ms <= from_ms)
        return false;
    if (!m_sound || m_soundPath != path) {
        m_sound = std::make_unique<PreviewSound>(kRate, kChannels);
        m_soundPath = path;
        if (m_sound->Open(path.c_str()) != kProbeOk)
            m_sound.reset();
    }
    m_audible = false;
    if (m_sound && m_sound->HasSound() && m_sound->SeekTo(from_ms * 1000)) {
        m_output = OutputFactory() ? OutputFactory()() : std::make_unique<DeviceOutput>();
        m_audible = m_output && m_output->Start(kRate, kChannels);
    }
    if (!m_audible) {
        m_output = std::make_unique<TimedOutput>();
        m_output->Start(kRate, kChannels);
    }
    m_fromMs = from_ms;
    m_toMs = to_ms;
    m_fedFrames = 0;
    m_clockBaseUs = 0;
    m_lastPlayedUs = -1;
    m_stillTicks = 0;
    m_playing = true;
    Feed();
    m_timer.start();
    return true;
}

void WindowPlayer::Stop()
{
    m_timer.stop();
    if (m_output)
        m_output->Stop();
    m_output.reset();
    m_playing = false;
}

long long WindowPlayer::ClockUs() const { return m_clockBaseUs + (m_output ? m_output->PlayedUs() : 0); }

void WindowPlayer::Tick()
{
    if (!m_playing)
        return;
    Feed();
    const long long played = m_output->PlayedUs();
    const bool waiting = m_audible && played * kRate / 1000000 < m_fedFrames;
    m_stillTicks = played == m_lastPlayedUs && waiting ? m_stillTicks + 1 : 0;
    m_lastPlayedUs = played;
    // Sound written and not taken for long: the time passed goes on from here.
    if (m_audible && m_stillTicks >= kStuckTicks)
        FallBackToTimeOnly();
    const long long ms = std::min(m_fromMs + ClockUs() / 1000, m_toMs);
    emit reached(ms);
    if (ms >= m_toMs) {
        Stop();
        emit ended();
    }
}

void WindowPlayer::Feed()
{
    if (!m_audible)
        return;
    const long long spanFrames = (m_toMs - m_fromMs) * kRate / 1000;
    const long long frameBytes = kChannels * static_cast<long long>(sizeof(int16_t));
    long long frames = std::min(m_output->BytesFree() / frameBytes, spanFrames - m_fedFrames);
    while (frames > 0) {
        const int chunk = static_cast<int>(std::min<long long>(frames, kRate / 10));
        m_chunk.assign(static_cast<size_t>(chunk) * kChannels, 0);
        // After the track's end the span goes on in silence.
        m_sound->Read(m_chunk.data(), chunk);
        m_output->Write(reinterpret_cast<const char*>(m_chunk.data()), chunk * frameBytes);
        m_fedFrames += chunk;
        frames -= chunk;
    }
}

void WindowPlayer::FallBackToTimeOnly()
{
    m_clockBaseUs += m_output->PlayedUs();
    m_output->Stop();
    m_output = std::make_unique<TimedOutput>();
    m_output->Start(kRate, kChannels);
    m_audible = false;
    m_stillTicks = 0;
}
