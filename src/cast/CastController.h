#pragma once

#include "cast/CastFrameReader.h"
#include "cast/CastProtocol.h"
#include "model/DeviceReply.h"
#include "model/Speaker.h"
#include "net/OneShot.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

class QSslSocket;

namespace pealix {

// Drives one Cast device for one announcement: a TLS channel, the default media
// receiver launched on it, the clip loaded into that receiver, heartbeats answered,
// and the channel closed once the clip has had time to play. Made for one use.
class CastController : public QObject
{
    Q_OBJECT

public:
    struct Timings
    {
        // From the start of the connection to giving up on a transport id.
        std::chrono::milliseconds prepareTimeout{6000};
        // Added to the clip's length before the session is closed.
        std::chrono::milliseconds holdPadding{1000};
    };

    explicit CastController(QObject *parent = nullptr);
    ~CastController() override;

    // Tests shorten the waits with this; the defaults are the production values.
    void setTimings(const Timings &timings) { m_timings = timings; }

    // True once the receiver application's channel is open; false on a connection
    // failure, end of stream, or no transport id in time. Never throws.
    QCoro::Task<bool> prepare(Speaker speaker);

    // A connection to the device and the transport id of its media receiver.
    bool isPrepared() const;

    // Loads `url` into the prepared receiver, holds for the clip's length plus the
    // padding (or until close()) and closes. Returns what the receiver said to the
    // LOAD: accepted once it reported the media playing or buffering, refused with
    // the device's message type (which also ends the hold at once), no answer
    // otherwise. Without a prepared session it returns no answer at once.
    QCoro::Task<DeviceReply> play(QString url, double duration);

    // Safe from any thread: the teardown runs on the controller's own thread. A
    // play still holding then returns with what the device has said so far.
    void close();

    std::optional<QString> transportID() const { return m_transportID; }
    qint64 requestID() const { return m_requestID; }
    QString clipURL() const { return m_clipURL; }

    // The transport id of a receiver status, or none when the payload has another shape.
    static std::optional<QString> transportId(const QString &payload);

private:
    void onEncrypted();
    void onReadyRead();
    void onConnectionEnded();
    void processInbound();
    void handleMessage(const CastProtocol::Message &message);
    void handleMediaMessage(const QString &payload);
    void endHold();
    void send(const QString &destination, const QString &namespace_, const QString &payload);
    void completePrepare(bool prepared);
    void dropConnection();
    void teardown();

    QPointer<QSslSocket> m_conn;
    CastFrameReader m_inbound;
    qint64 m_requestID = 0;
    std::optional<QString> m_transportID;
    QString m_clipURL;
    std::optional<net::OneShot<bool>> m_onPrepared;
    qint64 m_loadRequestID = 0; // 0 until LOAD was sent
    DeviceReply m_loadReply;
    std::optional<net::OneShot<DeviceReply>> m_holdDone;
    QTimer m_prepareTimer;
    Timings m_timings;
    bool m_prepareCalled = false;
};

} // namespace pealix
