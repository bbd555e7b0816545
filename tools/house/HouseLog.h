#pragma once

#include <QFile>
#include <QJsonObject>
#include <QString>

#include <chrono>
#include <functional>

namespace pealix::house {

// What happens in the house, twice: one line for a person on standard output
// ("Kitchen: volume 23 → 35") and, when asked for, one JSON object per line
// for programs, with the same facts in fields. Every JSON line carries
// "t", the system's monotonic clock in seconds (the clock that
// std::chrono::steady_clock reads), so other programs on the machine can
// line up their own times with the house's.
class HouseLog
{
public:
    HouseLog();

    // Appends JSON lines to `path` from now on; false with the reason when it cannot.
    bool openJson(const QString &path, QString *problem);

    // One event of `room` (empty for the house itself). `human` may be empty:
    // then only programs hear of it.
    void note(const QString &room, const QString &event, QJsonObject fields, const QString &human = {});

    static double monotonicSeconds();
    static double secondsOf(std::chrono::steady_clock::time_point at);

    // Hears every event as it is noted: what another device on the network could overhear.
    std::function<void(const QString &room, const QString &event, const QJsonObject &fields)> overhear;

private:
    QFile m_out;
    QFile m_json;
};

} // namespace pealix::house
