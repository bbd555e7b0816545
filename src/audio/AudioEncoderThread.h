#pragma once

#include "audio/AudioEncoder.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace pealix {

// Runs an AudioEncoder on a thread of its own, fed through a bounded queue, so
// that encoding never holds up the thread that captures sound and redraws.
//
// push() and finish() are called from one owner thread. A push that would
// overfill the queue is refused rather than waited on: the owner must not block.
class AudioEncoderThread
{
public:
    // Ten seconds of backlog; the encoder runs far faster than real time, so
    // reaching it means the machine has stalled, not that the queue is small.
    static constexpr std::size_t defaultCapacityBytes = 10 * AudioEncoder::sampleRate * 2;

    AudioEncoderThread(const QString &path, std::size_t capacityBytes = defaultCapacityBytes);
    ~AudioEncoderThread();
    AudioEncoderThread(const AudioEncoderThread &) = delete;
    AudioEncoderThread &operator=(const AudioEncoderThread &) = delete;

    // Whether the file was created; the reason when it was not.
    bool isOpen() const { return m_open; }
    QString openError() const { return m_openError; }

    // Hands over 16-bit mono samples. False when they were refused (queue full
    // or the encoder has stopped); refused samples never reach the file.
    bool push(const QByteArray &pcm);
    // Seconds of audio accepted so far: what the finished file will hold.
    double acceptedSeconds() const { return double(m_acceptedSamples) / AudioEncoder::sampleRate; }
    std::int64_t droppedSamples() const { return m_droppedSamples; }

    // Encodes everything queued, finishes the file and ends the thread.
    // Returns the file's length in seconds, or a negative number with `error`.
    double finish(QString *error = nullptr);

    // Ends the thread without finishing the file.
    void abandon();

private:
    void run();
    void stopThread(bool finishFile);

    AudioEncoder m_encoder;
    bool m_open = false;
    QString m_openError;
    std::size_t m_capacity;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<QByteArray> m_queue;
    std::size_t m_queuedBytes = 0;
    bool m_closing = false;
    bool m_finishFile = false;
    bool m_failed = false;
    bool m_finished = false;
    QString m_error;
    std::thread m_thread;

    // Owner thread only.
    std::int64_t m_acceptedSamples = 0;
    std::int64_t m_droppedSamples = 0;
    bool m_stopped = false;
};

} // namespace pealix
