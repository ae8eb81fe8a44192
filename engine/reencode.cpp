#include "reencode.h"

#include "conversion_job.h"
#include "job_output.h"

// Re-encoding is not available yet: every indirect input fails clearly.
struct Reencoder::State {
    ConversionJob* job;
};

Reencoder::Reencoder(ConversionJob* job) : state_(new State{job}) {}
Reencoder::~Reencoder() = default;

bool Reencoder::SetUpVideo(JobOutput&, InputRun&, AVStream*) { return false; }
bool Reencoder::SetUpAudio(JobOutput&, InputRun&, AVStream*) { return false; }
bool Reencoder::BeginInput(JobOutput&, InputRun&) { return false; }
bool Reencoder::VideoPacket(JobOutput&, InputRun&, const AVPacket*) { return false; }
bool Reencoder::AudioPacket(JobOutput&, InputRun&, const AVPacket*) { return false; }
bool Reencoder::EndInput(JobOutput&, InputRun&) { return true; }
bool Reencoder::FinishJob(JobOutput&) { return true; }
