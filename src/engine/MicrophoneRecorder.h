#pragma once

#include "audio/AudioRecorder.h"
#include "engine/ClipRecorder.h"

namespace pealix {

// The push-to-talk recorder: the default microphone into the one clip file.
class MicrophoneRecorder : public ClipRecorder
{
public:
    MicrophoneRecorder() = default;
    explicit MicrophoneRecorder(QString clipPath) : m_recorder(std::move(clipPath)) {}

    QCoro::Task<bool> requestPermission() override;
    std::optional<QString> start() override;
    std::optional<Clip> stop(QString *reason) override;
    bool isRecording() const override;
    std::optional<float> averagePower() override;

private:
    AudioRecorder m_recorder;
};

} // namespace pealix
