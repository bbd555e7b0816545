#pragma once

#include "audio/AudioCaptureSession.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <optional>

namespace pealix {

// Records the microphone into a clip file (by default the one push-to-talk clip,
// so each new recording replaces the last one), reports the finished clip's
// length, and keeps the running capture reachable so a level meter can poll it.
//
// Main thread only.
class AudioRecorder : public QObject
{
    Q_OBJECT
public:
    enum class RecorderError {
        micDenied,   // declared for callers; the recorder itself never reports it
        notRecording // the capture was set up but did not begin
    };

    // Why start() failed: one of our own cases, or the sound system's or the
    // file system's reason, always with a text a person can read.
    struct StartError
    {
        std::optional<RecorderError> code;
        QString description;
    };

    struct Clip
    {
        QUrl url;        // a local file URL
        double duration; // seconds
    };

    // Records into defaultClipPath(), worked out anew at each start.
    explicit AudioRecorder(QObject *parent = nullptr);
    // Records into a file of the caller's own.
    explicit AudioRecorder(QString clipPath, QObject *parent = nullptr);
    ~AudioRecorder() override;

    // "pealix-clip.m4a" in this user's runtime folder ($XDG_RUNTIME_DIR), or in
    // the temporary folder when there is none. The runtime folder comes first:
    // in a shared /tmp another user's leftover clip could not be replaced.
    static QString defaultClipPath();
    // Where the next recording goes.
    QString clipPath() const;
    static QString describe(RecorderError error);

    // True when the microphone may be used. This desktop has no permission
    // service for it, so there is nobody to ask.
    QCoro::Task<bool> requestPermission();

    // Deletes the last clip and starts recording a new one. Nothing on success.
    [[nodiscard]] std::optional<StartError> start();

    // Finishes the recording: the clip's location and length, or nothing when
    // no recording was running or no file could be made of it; `reason` then
    // says which, in words a person can read.
    std::optional<Clip> stop(QString *reason = nullptr);

    // The running capture, for the level meter; null when not recording.
    AudioCaptureSession *recorder() const { return m_recorder.data(); }
    // The current or last clip; empty until the first recording starts.
    std::optional<QUrl> clipURL() const { return m_clipURL; }

private:
    QString m_clipPath; // empty: the default
    QPointer<AudioCaptureSession> m_recorder;
    std::optional<QUrl> m_clipURL;
};

} // namespace pealix
