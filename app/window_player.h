// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Plays a span of the cut file inside the window: its sound through the
// desktop's sound output, and the times the sound reaches, for the preview
// and the thumb to follow. The sound output is the clock; without one (no
// device, no sound track, or an output that stops taking sound) the time
// passed is.

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class PreviewSound;

// Where the sound goes and what tells how far it has been heard.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    // Takes interleaved signed 16-bit sound at `rate` and `channels` from
    // now on; false when it cannot.
    virtual bool Start(int rate, int channels) = 0;
    // Bytes Write takes now.
    virtual long long BytesFree() const = 0;
    virtual void Write(const char* data, long long bytes) = 0;
    // Microseconds of sound heard since Start.
    virtual long long PlayedUs() const = 0;
    virtual void Stop() = 0;
};

// Makes the sound output of each play; tests hand their own. Null: the
// desktop's default output.
using SoundOutputFactory = std::function<std::unique_ptr<SoundOutput>()>;
void SetSoundOutputFactory(SoundOutputFactory factory);

// A clock of time passed that takes sound and lets it fall: the clock of a
// play nothing can be heard of. Tests hand it their own time (microseconds).
class TimedOutput : public SoundOutput {
public:
    explicit TimedOutput(std::function<long long()> now_us = {});
    bool Start(int rate, int channels) override;
    long long BytesFree() const override { return 1 << 16; }
    void Write(const char*, long long) override {}
    long long PlayedUs() const override;
    void Stop() override {}

private:
    std::function<long long()> m_nowUs;
    long long m_startUs = 0;
};

class WindowPlayer : public QObject {
    Q_OBJECT

public:
    static constexpr int kRate = 48000;
    static constexpr int kChannels = 2;
    // How often the clock is read and the output fed.
    static constexpr int kTickMs = 10;

    explicit WindowPlayer(QObject* parent = nullptr);
    ~WindowPlayer() override;

    // Plays `path` (UTF-8) from `from_ms` to `to_ms`, counted from the file's
    // origin; false when there is nothing to play.
    bool Play(const std::string& path, long long from_ms, long long to_ms);
    // Ends the play where it stands; `reached` is not sent again.
    void Stop();
    bool Playing() const { return m_playing; }
    // Whether the sound is heard (false: the time passed is the clock).
    bool Audible() const { return m_audible; }
    // Feeds the output and reads its clock; the timer calls it every kTickMs.
    void Tick();

signals:
    // The sound has reached `ms`; the last one sent is the span's end.
    void reached(long long ms);
    // The play went to the span's end.
    void ended();

private:
    void Feed();
    // The output stopped taking sound: the time passed takes over from here.
    void FallBackToTimeOnly();
    long long ClockUs() const;

    QTimer m_timer;
    std::unique_ptr<SoundOutput> m_output;
    std::unique_ptr<PreviewSound> m_sound;
    std::string m_soundPath;
    std::vector<int16_t> m_chunk;
    bool m_playing = false;
    bool m_audible = false;
    long long m_fromMs = 0, m_toMs = 0;
    long long m_fedFrames = 0;     // sample frames written since the play began
    long long m_clockBaseUs = 0;   // heard before the output now in use started
    long long m_lastPlayedUs = -1; // the output's clock when it last moved
    int m_stillTicks = 0;          // ticks since it last moved
};
