#include "audio/AudioEncoderThread.h"

namespace pealix {

AudioEncoderThread::AudioEncoderThread(const QString &path, std::size_t capacityBytes)
    : m_capacity(capacityBytes)
{
    m_open = m_encoder.open(path, &m_openError);
    if (m_open)
        m_thread = std::thread([this] { run(); });
}

AudioEncoderThread::~AudioEncoderThread() { abandon(); }

bool AudioEncoderThread::push(const QByteArray &pcm)
{
    const std::int64_t samples = pcm.size() / 2;
    if (samples == 0)
        return true;
    if (m_open && !m_stopped) {
        std::lock_guard lock(m_mutex);
        if (!m_failed && m_queuedBytes + std::size_t(pcm.size()) <= m_capacity) {
            m_queue.push_back(pcm);
            m_queuedBytes += std::size_t(pcm.size());
            m_acceptedSamples += samples;
            m_wake.notify_one();
            return true;
        }
    }
    m_droppedSamples += samples;
    return false;
}

void AudioEncoderThread::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_closing || !m_queue.empty(); });
        if (m_closing && (!m_finishFile || m_queue.empty()))
            break;
        QByteArray chunk = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= std::size_t(chunk.size());
        lock.unlock();
        const bool ok = m_failed
            || m_encoder.write(reinterpret_cast<const int16_t *>(chunk.constData()), std::size_t(chunk.size() / 2));
        lock.lock();
        if (!ok)
            m_failed = true;
    }
    if (m_finishFile) {
        lock.unlock();
        QString error;
        const bool ok = m_encoder.finish(&error);
        lock.lock();
        m_finished = ok;
        m_error = error;
    } else {
        m_encoder.abandon();
    }
}

void AudioEncoderThread::stopThread(bool finishFile)
{
    if (m_stopped)
        return;
    m_stopped = true;
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
        m_finishFile = finishFile;
        m_wake.notify_one();
    }
    m_thread.join();
}

double AudioEncoderThread::finish(QString *error)
{
    if (!m_open) {
        if (error)
            *error = m_openError;
        return -1;
    }
    if (m_stopped) {
        if (error)
            *error = QStringLiteral("The recording has already ended");
        return -1;
    }
    stopThread(true);
    if (!m_finished) {
        if (error)
            *error = m_error;
        return -1;
    }
    return m_encoder.secondsWritten();
}

void AudioEncoderThread::abandon() { stopThread(false); }

} // namespace pealix
