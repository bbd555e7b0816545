#include "ui/MessageRecorderVM.h"

#include "audio/AudioRecorder.h"
#include "model/MessageStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pealix {

namespace {
const QString RecordingName = QStringLiteral("pealix-message-recording.m4a");
const QString PendingName = QStringLiteral("pealix-message-pending.m4a");
} // namespace

MessageRecorderVM::MessageRecorderVM(QObject *parent) : MessageRecorderVM(defaultFolder(), parent) {}

MessageRecorderVM::MessageRecorderVM(const QString &folder, QObject *parent)
    : QObject(parent), m_recordingPath(QDir(folder).filePath(RecordingName)),
      m_pendingPath(QDir(folder).filePath(PendingName)), m_recorder(new AudioRecorder(m_recordingPath, this))
{
}

MessageRecorderVM::~MessageRecorderVM() = default;

QString MessageRecorderVM::defaultFolder()
{
    return QFileInfo(AudioRecorder::defaultClipPath()).absolutePath();
}

QCoro::Task<> MessageRecorderVM::record()
{
    if (m_isRecording)
        co_return;
    QPointer<MessageRecorderVM> self(this);
    const bool granted = co_await m_recorder->requestPermission();
    if (!self || !granted || m_isRecording)
        co_return;
    if (const auto error = m_recorder->start()) {
        // The tab stays in "Record" and says why.
        setLastError(QStringLiteral("Couldn't start recording: ") + error->description);
        co_return;
    }
    setLastError(QString());
    setRecording(true);
}

void MessageRecorderVM::stop()
{
    const auto clip = m_recorder->stop();
    if (clip) {
        // rename() replaces the earlier pending clip in one step: at every
        // moment one whole clip is pending.
        const QByteArray from = QFile::encodeName(clip->url.toLocalFile());
        const QByteArray to = QFile::encodeName(m_pendingPath);
        if (std::rename(from.constData(), to.constData()) == 0) {
            m_pendingClip = QUrl::fromLocalFile(m_pendingPath);
            setLastError(QString());
            Q_EMIT pendingClipChanged();
        } else {
            setLastError(QStringLiteral("Couldn't keep the recording: ") +
                         QString::fromLocal8Bit(std::strerror(errno)));
        }
    } else if (m_isRecording) {
        setLastError(QStringLiteral("Couldn't finish the recording."));
    }
    setRecording(false);
}

bool MessageRecorderVM::save(MessageStore &store, const QString &title)
{
    if (!m_pendingClip)
        return false;
    const QList<SavedMessage> before = store.messages();
    store.save(m_pendingClip->toLocalFile(), title);
    const QList<SavedMessage> &after = store.messages();
    const bool added = std::any_of(after.begin(), after.end(),
                                   [&](const SavedMessage &message) { return !before.contains(message); });
    if (!added) {
        // The store swallows a failed copy: keep the recording rather than
        // throw it away with nothing saved.
        setLastError(QStringLiteral("Couldn't save the message in %1.").arg(store.folder()));
        return false;
    }
    QFile::remove(m_pendingPath);
    m_pendingClip.reset();
    setLastError(QString());
    Q_EMIT pendingClipChanged();
    return true;
}

void MessageRecorderVM::setRecording(bool recording)
{
    if (recording == m_isRecording)
        return;
    m_isRecording = recording;
    Q_EMIT isRecordingChanged();
}

void MessageRecorderVM::setLastError(const QString &error)
{
    if (error == m_lastError && error.isNull() == m_lastError.isNull())
        return;
    m_lastError = error;
    Q_EMIT lastErrorChanged();
}

} // namespace pealix
