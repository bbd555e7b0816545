#include "engine/MicrophoneRecorder.h"

namespace pealix {

QCoro::Task<bool> MicrophoneRecorder::requestPermission()
{
    return m_recorder.requestPermission();
}

std::optional<QString> MicrophoneRecorder::start()
{
    if (const auto error = m_recorder.start())
        return error->description;
    return std::nullopt;
}

std::optional<ClipRecorder::Clip> MicrophoneRecorder::stop(QString *reason)
{
    return m_recorder.stop(reason);
}

bool MicrophoneRecorder::isRecording() const
{
    return m_recorder.recorder() != nullptr;
}

std::optional<float> MicrophoneRecorder::averagePower()
{
    AudioCaptureSession *session = m_recorder.recorder();
    if (!session)
        return std::nullopt;
    session->updateMeters();
    return session->averagePower(0);
}

} // namespace pealix
