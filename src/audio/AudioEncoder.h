#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pealix {

// Encodes mono 16-bit PCM at 44.1 kHz into AAC inside an MPEG-4 audio (.m4a)
// file. The index is moved to the front when the file is finished, so a
// speaker can begin playing before it has fetched the whole file.
//
// Not thread-safe: one thread opens, writes and finishes.
class AudioEncoder
{
public:
    static constexpr int sampleRate = 44100;
    static constexpr int channelCount = 1;
    static constexpr int bitRate = 96000;

    AudioEncoder();
    ~AudioEncoder();
    AudioEncoder(const AudioEncoder &) = delete;
    AudioEncoder &operator=(const AudioEncoder &) = delete;

    // Creates the file at `path`. False with a readable reason on failure.
    bool open(const QString &path, QString *error = nullptr);

    // Queues samples for encoding; whole AAC frames are written as they fill.
    // False once the encoder or the file has failed (the reason is kept for finish()).
    bool write(const int16_t *samples, std::size_t count);

    // Encodes what is left, writes the index and closes the file. A file with no
    // audio frames is not playable, so an empty recording gains one frame of silence.
    bool finish(QString *error = nullptr);

    // Drops an unfinished file's handles without writing the index.
    void abandon();

    bool isOpen() const;
    // Samples that will be (or have been) encoded, including silence added by finish().
    std::int64_t samplesWritten() const;
    double secondsWritten() const { return double(samplesWritten()) / sampleRate; }

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace pealix
