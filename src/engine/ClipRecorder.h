#pragma once

#include "audio/AudioRecorder.h"

#include <QCoro/QCoroTask>
#include <QString>

#include <optional>

namespace pealix {

// What the broadcaster needs of a microphone recorder. The application's is a
// MicrophoneRecorder; tests give the broadcaster recorders of their own.
class ClipRecorder
{
public:
    using Clip = AudioRecorder::Clip;

    virtual ~ClipRecorder() = default;

    virtual QCoro::Task<bool> requestPermission() = 0;
    // Nothing once recording; otherwise why it could not start, for a person.
    virtual std::optional<QString> start() = 0;
    // The finished clip, or nothing with `reason` saying why.
    virtual std::optional<Clip> stop(QString *reason) = 0;
    virtual bool isRecording() const = 0;
    // A fresh reading of the sound now coming in, in dBFS; nothing when not recording.
    virtual std::optional<float> averagePower() = 0;
};

} // namespace pealix
