#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

namespace pealix {

class AudioRecorder;
class MessageStore;

// Records messages for the Messages tab with a microphone recorder of its own.
// Recordings go to a file of their own and a finished one is moved aside as
// the pending clip, so neither push-to-talk nor the next Record can overwrite a
// clip the user has not saved yet.
class MessageRecorderVM : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)

public:
    // Both files live in `folder`: this user's runtime folder by default.
    explicit MessageRecorderVM(QObject *parent = nullptr);
    explicit MessageRecorderVM(const QString &folder, QObject *parent = nullptr);
    ~MessageRecorderVM() override;

    static QString defaultFolder();

    bool isRecording() const { return m_isRecording; }
    // The last recording that was stopped and not yet saved.
    std::optional<QUrl> pendingClip() const { return m_pendingClip; }
    // Why the last Record, Stop or save did not work; null when it did.
    QString lastError() const { return m_lastError; }

    QString recordingPath() const { return m_recordingPath; }
    QString pendingPath() const { return m_pendingPath; }

    QCoro::Task<> record();
    void stop();
    // Copies the pending clip into `store` under `title`. The pending clip is
    // forgotten only once the store lists a new message; otherwise it stays
    // and lastError says why. True when saved.
    bool save(MessageStore &store, const QString &title);

Q_SIGNALS:
    void isRecordingChanged();
    void pendingClipChanged();
    void lastErrorChanged();

private:
    void setRecording(bool recording);
    void setLastError(const QString &error);

    QString m_recordingPath;
    QString m_pendingPath;
    AudioRecorder *m_recorder;
    bool m_isRecording = false;
    std::optional<QUrl> m_pendingClip;
    QString m_lastError;
};

} // namespace pealix
