#pragma once

#include "house/devices/SimulatedCastDevice.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <optional>

namespace pealix::test {

using namespace Qt::StringLiterals;

// Runs the event loop until `done()` holds or ten seconds have passed; true when it held.
// Every wake-up is an event (socket, timer), never a fixed sleep.
template <typename Condition> bool waitUntil(Condition done)
{
    QTimer watchdog;
    watchdog.setSingleShot(true);
    watchdog.start(10000);
    while (!done() && watchdog.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// The task's result when it finished within ten seconds.
template <typename T> std::optional<T> finish(QCoro::Task<T> task)
{
    return waitUntil([&task] { return task.isReady(); }) ? std::optional(QCoro::waitFor(task)) : std::nullopt;
}

// A frame from the sender as both test devices write it down, and the ones a session sends.
inline QString sent(const QString &to, const QString &ns, const QString &payload)
{
    return "sender-0 " + to + " urn:x-cast:com.google.cast." + ns + ' ' + payload;
}
inline QString connectTo(const QString &to)
{
    return sent(to, u"tp.connection"_s, uR"({"type":"CONNECT"})"_s);
}
inline QString load(const QString &to, const QString &url)
{
    return sent(to, u"media"_s,
                uR"({"type":"LOAD","requestId":2,"autoplay":true,"media":{"contentId":")"_s + url +
                    uR"(","streamType":"BUFFERED","contentType":"audio/mp4"}})"_s);
}
inline const QString launch =
    sent(u"receiver-0"_s, u"receiver"_s, uR"({"type":"LAUNCH","appId":"CC1AD845","requestId":1})"_s);
inline const QString pong = sent(u"receiver-0"_s, u"tp.heartbeat"_s, uR"({"type":"PONG"})"_s);

// The house's Cast device as the tests meet it: on loopback, with a certificate
// from files that other peers can read too, LAUNCH answered by script, and done
// with a clip in 300 ms whatever its length.
class FakeCastDevice : public house::SimulatedCastDevice
{
public:
    // A folder holding a self-signed "device.crt" and its "device.key", made once per process
    // with openssl and kept as long as the process; empty when that failed.
    static QString tlsDir()
    {
        static QTemporaryDir dir;
        // An EC key: generated in milliseconds, unlike RSA.
        static const int status = QProcess::execute(
            u"openssl"_s, u"req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "
                          "/CN=pealix-test-device -keyout %1/device.key -out %1/device.crt"_s.arg(dir.path())
                              .split(' '));
        return status == 0 ? dir.path() : QString();
    }

    FakeCastDevice() { playMs = 300; }

    // Listens on an ephemeral port; false without TLS material.
    bool start(const QHostAddress &address = QHostAddress::LocalHost)
    {
        if (tlsDir().isEmpty())
            return false;
        tls = house::TlsMaterial::fromFiles(tlsDir() + u"/device.crt"_s, tlsDir() + u"/device.key"_s);
        return SimulatedCastDevice::start(address);
    }
};

} // namespace pealix::test
