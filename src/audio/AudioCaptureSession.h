#pragma once

#include "audio/AudioEncoderThread.h"
#include "audio/AudioPowerMeter.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class QAudioSource;
class QIODevice;

namespace pealix {

// One recording from the default microphone into one .m4a file, with a live
// power reading. The audio is written to a private file beside the clip and
// moved onto the clip's name only once complete, so the clip's name never
// holds half a file.
//
// Lives on the main thread; sound is read there (a cheap copy) and encoded on
// the encoder's own thread.
class AudioCaptureSession : public QObject
{
    Q_OBJECT
public:
    explicit AudioCaptureSession(const QString &clipPath, QObject *parent = nullptr);
    ~AudioCaptureSession() override;

    // Finds the microphone and creates the file. False with a readable reason.
    bool prepare(QString *error);
    // Starts capturing. False with the sound system's reason when it did not begin.
    bool record(QString *reason);
    bool isRecording() const { return m_recording; }

    // Seconds of sound captured so far.
    double currentTime() const;

    // Takes a new power reading from the most recent sound.
    void updateMeters();
    // The last reading in dBFS. The microphone is mono: every channel reads the same.
    float averagePower(int channel) const;

    // Ends capture, finishes the file and puts it at the clip's name. Returns
    // the clip's length in seconds, or nothing (with a reason) when no file
    // could be made. Sound already captured survives a lost microphone.
    std::optional<double> stop(QString *error = nullptr);

private:
    void readAvailable();
    void onStateChanged();
    void consume(const QByteArray &bytes);
    void discardPartial();

    QString m_clipPath;
    QString m_partialPath;
    QAudioSource *m_source = nullptr;
    QPointer<QIODevice> m_input;
    std::unique_ptr<AudioEncoderThread> m_encoder;
    AudioPowerMeter m_meter;
    QByteArray m_oddByte;
    bool m_recording = false;
};

} // namespace pealix
