#pragma once

#include "engine/ClipRecorder.h"
#include "net/OneShot.h"

#include <QDeadlineTimer>

#include <optional>

namespace pealix::test {

// A microphone the test controls: whether access is granted (at once or when
// the test says so), whether recording starts, what stop() gives back, and the
// power it reports. It counts what was asked of it.
class FakeRecorder : public ClipRecorder
{
public:
    // What stop() gives: this file with this length, or (without a file) a failure for `failure`.
    QString clipPath;
    std::optional<double> clipSeconds; // nothing: the time since start()
    QString failure = QStringLiteral("The encoder failed");

    bool granted = true;
    std::optional<net::OneShot<bool>> permissionAnswer; // set: permission waits for it
    std::optional<QString> startError;
    float power = -30.0f;

    int starts = 0, stops = 0, powerReadings = 0;

    QCoro::Task<bool> requestPermission() override
    {
        if (permissionAnswer)
            co_return co_await *permissionAnswer;
        co_return granted;
    }

    std::optional<QString> start() override
    {
        if (startError)
            return startError;
        ++starts;
        m_recording = true;
        m_started = QDeadlineTimer::current().deadline();
        return std::nullopt;
    }

    std::optional<Clip> stop(QString *reason) override
    {
        if (!m_recording) {
            if (reason)
                *reason = QStringLiteral("Nothing is being recorded");
            return std::nullopt;
        }
        ++stops;
        m_recording = false;
        if (clipPath.isEmpty()) {
            if (reason)
                *reason = failure;
            return std::nullopt;
        }
        const double seconds =
            clipSeconds.value_or((QDeadlineTimer::current().deadline() - m_started) / 1000.0);
        return Clip{QUrl::fromLocalFile(clipPath), seconds};
    }

    bool isRecording() const override { return m_recording; }

    std::optional<float> averagePower() override
    {
        if (!m_recording)
            return std::nullopt;
        ++powerReadings;
        return power;
    }

private:
    bool m_recording = false;
    qint64 m_started = 0;
};

} // namespace pealix::test
