// How much the recorder's encoding costs, and how long a speaker waits between
// the end of a recording and a complete clip file.
//
//   recorder_bench [folder]     (default: the temporary folder)
//
// For 10 s and 60 s of speech-like sound it prints
// - the encoder's CPU seconds per second of sound, as a share of one core in
//   real time (the reference: the sound's own length);
// - stop -> file ready: encoding the last 50 ms still in flight, writing the
//   index at the front, closing and moving the file onto the clip's name.
#include "audio/AudioEncoder.h"
#include "audio/AudioFileDuration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <numbers>
#include <random>
#include <vector>

using namespace pealix;

namespace {

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Voiced tones that rise and fall in loudness, with breath noise: enough
// variety that the encoder works as hard as it does on a voice.
std::vector<int16_t> speechLike(double seconds)
{
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 0.02);
    std::vector<int16_t> samples(std::size_t(seconds * AudioEncoder::sampleRate));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = double(i) / AudioEncoder::sampleRate;
        const double envelope = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 3 * t);
        const double pitch = 140 + 40 * std::sin(2 * std::numbers::pi * 0.7 * t);
        double v = 0;
        for (int harmonic = 1; harmonic <= 6; ++harmonic)
            v += std::sin(2 * std::numbers::pi * pitch * harmonic * t) / harmonic;
        v = 0.25 * envelope * v + noise(random);
        samples[i] = int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32767));
    }
    return samples;
}

void measure(double seconds, const QString &folder)
{
    const std::vector<int16_t> sound = speechLike(seconds);
    const std::size_t chunk = AudioEncoder::sampleRate / 20; // what one capture read delivers
    const QString partial = folder + QStringLiteral("/bench-clip.part.m4a");
    const QString clip = folder + QStringLiteral("/bench-clip.m4a");

    AudioEncoder encoder;
    QString error;
    if (!encoder.open(partial, &error)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(partial), qPrintable(error));
        return;
    }
    const std::size_t tail = sound.size() - chunk;
    const double cpuStart = threadCpuSeconds();
    for (std::size_t at = 0; at < tail; at += chunk)
        encoder.write(sound.data() + at, std::min(chunk, tail - at));
    const double cpu = threadCpuSeconds() - cpuStart;

    const auto stopStart = std::chrono::steady_clock::now();
    encoder.write(sound.data() + tail, sound.size() - tail);
    const bool finished = encoder.finish(&error);
    QFile::remove(clip);
    const bool moved = finished && QFile::rename(partial, clip);
    const double stopMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stopStart).count();

    const auto duration = audioFileDuration(clip);
    const double encodedSeconds = double(tail) / AudioEncoder::sampleRate;
    std::printf("%4.0f s of sound: encoder %.4f CPU s per s of sound (%.2f %% of one core); "
                "stop -> file ready %.2f ms; file %lld bytes, %.3f s%s\n",
                seconds, cpu / encodedSeconds, 100 * cpu / encodedSeconds, stopMs,
                static_cast<long long>(QFile(clip).size()), duration.value_or(-1),
                finished && moved && duration ? "" : "  (FILE NOT VALID)");
    QFile::remove(clip);
    QFile::remove(partial);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    for (double seconds : {10.0, 60.0})
        measure(seconds, folder);
    return 0;
}
