#include "audio/AudioRecorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace pealix {

AudioRecorder::AudioRecorder(QObject *parent) : QObject(parent) {}

AudioRecorder::AudioRecorder(QString clipPath, QObject *parent)
    : QObject(parent), m_clipPath(std::move(clipPath))
{
}

AudioRecorder::~AudioRecorder()
{
    delete m_recorder.data();
}

QString AudioRecorder::defaultClipPath()
{
    // QStandardPaths invents a folder under /tmp when the variable is unset; that
    // is exactly the shared place to avoid, so only a real runtime folder counts.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString folder = !runtime.isEmpty() && QFileInfo(runtime).isDir() ? runtime : QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("pealix-clip.m4a"));
}

QString AudioRecorder::clipPath() const
{
    return m_clipPath.isEmpty() ? defaultClipPath() : m_clipPath;
}

QString AudioRecorder::describe(RecorderError error)
{
    switch (error) {
    case RecorderError::micDenied:
        return QStringLiteral("Microphone access was refused");
    case RecorderError::notRecording:
        return QStringLiteral("The recording did not begin");
    }
    return {};
}

QCoro::Task<bool> AudioRecorder::requestPermission()
{
    co_return true;
}

std::optional<AudioRecorder::StartError> AudioRecorder::start()
{
    const QString path = clipPath();
    QFile::remove(path); // no old clip is fine

    auto session = std::make_unique<AudioCaptureSession>(path, this);
    QString reason;
    if (!session->prepare(&reason))
        return StartError{std::nullopt, reason};
    if (!session->record(&reason)) {
        return StartError{RecorderError::notRecording,
                          describe(RecorderError::notRecording) + QStringLiteral(": ") + reason};
    }
    delete m_recorder.data(); // an unfinished earlier recording is discarded
    m_recorder = session.release();
    m_clipURL = QUrl::fromLocalFile(path);
    return std::nullopt;
}

std::optional<AudioRecorder::Clip> AudioRecorder::stop(QString *reason)
{
    if (!m_recorder || !m_clipURL) {
        if (reason)
            *reason = QStringLiteral("Nothing is being recorded");
        return std::nullopt;
    }
    // The session drops itself from m_recorder whatever the outcome.
    std::unique_ptr<AudioCaptureSession> session(m_recorder.data());
    m_recorder = nullptr;
    const std::optional<double> seconds = session->stop(reason);
    if (!seconds)
        return std::nullopt;
    return Clip{*m_clipURL, *seconds};
}

} // namespace pealix
