#include "audio/AudioCaptureSession.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMediaDevices>
#include <QTemporaryFile>

#include <cstdio>

namespace pealix {

namespace {

// 50 ms of sound per read keeps the meter fresh at its 60 ms poll.
constexpr qsizetype captureBufferBytes = AudioEncoder::sampleRate / 20 * 2;

QString describeAudioError(QAudio::Error error)
{
    switch (error) {
    case QAudio::OpenError:
        return QStringLiteral("The microphone could not be opened");
    case QAudio::IOError:
        return QStringLiteral("Reading from the microphone failed");
    case QAudio::UnderrunError:
        return QStringLiteral("The microphone delivered no sound");
    case QAudio::FatalError:
        return QStringLiteral("The sound system failed");
    case QAudio::NoError:
        break;
    }
    return QStringLiteral("The microphone did not start");
}

} // namespace

AudioCaptureSession::AudioCaptureSession(const QString &clipPath, QObject *parent)
    : QObject(parent), m_clipPath(clipPath)
{
}

AudioCaptureSession::~AudioCaptureSession()
{
    if (m_source)
        m_source->stop();
    if (m_encoder)
        m_encoder->abandon();
    discardPartial();
}

bool AudioCaptureSession::prepare(QString *error)
{
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull()) {
        *error = QStringLiteral("No microphone is available");
        return false;
    }
    QAudioFormat format;
    format.setSampleRate(AudioEncoder::sampleRate);
    format.setChannelCount(AudioEncoder::channelCount);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) {
        *error = QStringLiteral("The microphone \"%1\" cannot record 44.1 kHz mono sound").arg(device.description());
        return false;
    }

    const QString folder = QFileInfo(m_clipPath).absolutePath();
    QTemporaryFile partial(folder + QStringLiteral("/.pealix-clip-XXXXXX.m4a"));
    partial.setAutoRemove(false);
    if (!partial.open()) {
        *error = QStringLiteral("Cannot write to the temporary folder %1: %2").arg(folder, partial.errorString());
        return false;
    }
    m_partialPath = partial.fileName();
    partial.close();

    m_encoder = std::make_unique<AudioEncoderThread>(m_partialPath);
    if (!m_encoder->isOpen()) {
        *error = m_encoder->openError();
        m_encoder.reset();
        discardPartial();
        return false;
    }
    m_source = new QAudioSource(device, format, this);
    m_source->setBufferSize(captureBufferBytes);
    return true;
}

bool AudioCaptureSession::record(QString *reason)
{
    if (!m_source || !m_encoder) {
        *reason = QStringLiteral("The recording was not prepared");
        return false;
    }
    m_meter.reset();
    m_input = m_source->start();
    if (!m_input || m_source->state() == QAudio::StoppedState || m_source->error() != QAudio::NoError) {
        *reason = describeAudioError(m_source->error());
        m_source->stop();
        m_input = nullptr;
        return false;
    }
    connect(m_input, &QIODevice::readyRead, this, &AudioCaptureSession::readAvailable);
    connect(m_source, &QAudioSource::stateChanged, this, &AudioCaptureSession::onStateChanged);
    m_recording = true;
    return true;
}

double AudioCaptureSession::currentTime() const { return m_encoder ? m_encoder->acceptedSeconds() : 0.0; }

void AudioCaptureSession::updateMeters() { m_meter.update(); }

float AudioCaptureSession::averagePower(int channel) const
{
    return channel >= 0 && channel < AudioEncoder::channelCount ? m_meter.averagePower()
                                                                : AudioPowerMeter::silenceFloor;
}

void AudioCaptureSession::readAvailable()
{
    if (m_recording && m_input)
        consume(m_input->readAll());
}

void AudioCaptureSession::onStateChanged()
{
    // A microphone that disappears stops the source with an error; whatever
    // arrived before that is kept and becomes the clip at stop().
    if (m_source && m_source->state() == QAudio::StoppedState)
        readAvailable();
}

void AudioCaptureSession::consume(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    QByteArray pcm = m_oddByte + bytes;
    m_oddByte.clear();
    if (pcm.size() % 2) {
        m_oddByte = pcm.right(1);
        pcm.chop(1);
    }
    m_meter.push(reinterpret_cast<const int16_t *>(pcm.constData()), std::size_t(pcm.size() / 2));
    m_encoder->push(pcm);
}

std::optional<double> AudioCaptureSession::stop(QString *error)
{
    if (!m_recording) {
        if (error)
            *error = QStringLiteral("Nothing is being recorded");
        return std::nullopt;
    }
    readAvailable();
    m_recording = false;
    m_source->disconnect(this);
    if (m_input)
        m_input->disconnect(this);
    m_source->stop();
    m_input = nullptr;
    m_meter.reset();

    QString reason;
    const double seconds = m_encoder->finish(&reason);
    m_encoder.reset();
    if (seconds < 0) {
        discardPartial();
        if (error)
            *error = reason;
        return std::nullopt;
    }
    // rename() replaces the clip in one step, so a reader sees the old file or the new one.
    if (std::rename(QFile::encodeName(m_partialPath).constData(), QFile::encodeName(m_clipPath).constData()) != 0) {
        discardPartial();
        if (error)
            *error = QStringLiteral("Cannot move the recording to %1").arg(m_clipPath);
        return std::nullopt;
    }
    m_partialPath.clear();
    return seconds;
}

void AudioCaptureSession::discardPartial()
{
    if (!m_partialPath.isEmpty())
        QFile::remove(m_partialPath);
    m_partialPath.clear();
}

} // namespace pealix
