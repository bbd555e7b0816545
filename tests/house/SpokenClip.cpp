#include "house/SpokenClip.h"

#include "audio/AudioEncoder.h"

#include <QProcess>
#include <QtEndian>

#include <vector>

namespace pealix::test {

using namespace Qt::StringLiterals;

namespace {

struct Speech
{
    int rate = 0;
    std::vector<int16_t> samples;
};

// Mono 16-bit PCM from a WAV file. espeak-ng writes to a pipe before it knows
// how long it will talk, so a data chunk may claim more than there is.
bool readWav(const QByteArray &wav, Speech &speech)
{
    if (wav.size() < 12 || !wav.startsWith("RIFF") || wav.mid(8, 4) != "WAVE")
        return false;
    qsizetype at = 12;
    int channels = 0, bits = 0;
    while (at + 8 <= wav.size()) {
        const QByteArray id = wav.mid(at, 4);
        const qint64 size = qFromLittleEndian<quint32>(wav.constData() + at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt " && body + 16 <= wav.size()) {
            channels = qFromLittleEndian<quint16>(wav.constData() + body + 2);
            speech.rate = int(qFromLittleEndian<quint32>(wav.constData() + body + 4));
            bits = qFromLittleEndian<quint16>(wav.constData() + body + 14);
        } else if (id == "data") {
            if (channels != 1 || bits != 16 || speech.rate <= 0)
                return false;
            const qsizetype bytes = qsizetype(std::min<qint64>(size, wav.size() - body)) & ~qsizetype(1);
            speech.samples.resize(size_t(bytes / 2));
            for (size_t i = 0; i < speech.samples.size(); ++i)
                speech.samples[i] = qFromLittleEndian<qint16>(wav.constData() + body + 2 * qsizetype(i));
            return !speech.samples.empty();
        }
        at = body + qsizetype(size) + (size & 1);
    }
    return false;
}

// To the encoder's rate, by straight lines between neighbouring samples.
std::vector<int16_t> resampled(const Speech &speech)
{
    const double step = double(speech.rate) / AudioEncoder::sampleRate;
    const size_t count = size_t(double(speech.samples.size()) / step);
    std::vector<int16_t> out(count);
    for (size_t i = 0; i < count; ++i) {
        const double position = double(i) * step;
        const size_t left = std::min(size_t(position), speech.samples.size() - 1);
        const size_t right = std::min(left + 1, speech.samples.size() - 1);
        const double fraction = position - double(left);
        out[i] = int16_t(speech.samples[left] * (1 - fraction) + speech.samples[right] * fraction);
    }
    return out;
}

} // namespace

bool writeSpokenClip(const QString &text, const QString &path, QString *problem)
{
    QProcess espeak;
    espeak.start(u"espeak-ng"_s, {u"--stdout"_s, text});
    if (!espeak.waitForFinished(30000) || espeak.exitStatus() != QProcess::NormalExit ||
        espeak.exitCode() != 0) {
        *problem = u"espeak-ng did not speak: "_s + espeak.errorString() + u' ' +
                   QString::fromLocal8Bit(espeak.readAllStandardError());
        return false;
    }
    Speech speech;
    if (!readWav(espeak.readAllStandardOutput(), speech)) {
        *problem = u"espeak-ng wrote no mono 16-bit WAV"_s;
        return false;
    }
    const std::vector<int16_t> samples = resampled(speech);
    AudioEncoder encoder;
    if (!encoder.open(path, problem))
        return false;
    if (!encoder.write(samples.data(), samples.size())) {
        encoder.finish(problem);
        return false;
    }
    return encoder.finish(problem);
}

} // namespace pealix::test
