#pragma once

#include "engine/BroadcastStatus.h"
#include "engine/BroadcasterSetup.h"
#include "engine/Delivery.h"
#include "model/Speaker.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace pealix {

class CastController;
class SonosCustody;

// The announcement cycle: records while push-to-talk is held, then publishes
// the clip and has every selected speaker play it; also plays saved messages.
// One instance, on the main thread.
class Broadcaster : public QObject
{
    Q_OBJECT
    Q_PROPERTY(pealix::BroadcastStatus status READ status NOTIFY statusChanged)
    Q_PROPERTY(float level READ level NOTIFY levelChanged)
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(QList<pealix::Delivery> deliveries READ deliveries NOTIFY deliveriesChanged)

public:
    using Status = BroadcastStatus;

    // The texts the user may see in lastError.
    static inline const QString microphoneDeniedText = QStringLiteral(
        "Microphone access denied. Allow Pealix to use the microphone in your system's privacy settings.");
    static inline const QString startFailedText = QStringLiteral("Couldn't start recording: ");
    static inline const QString finishFailedText = QStringLiteral("Couldn't finish the recording: ");
    static inline const QString tooShortText = QStringLiteral("Too short: hold the hotkey while you speak.");
    static inline const QString noSpeakersText =
        QStringLiteral("No speakers selected. Open Settings to choose where to broadcast.");
    static inline const QString noAddressText =
        QStringLiteral("Couldn't determine this computer's local network address.");
    static inline const QString serverFailedText = QStringLiteral("Couldn't start the local audio server: ");
    static inline const QString unreadableLengthText =
        QStringLiteral("Couldn't read the length of this message.");

    // With the microphone, the shared preferences and real speakers.
    explicit Broadcaster(QObject *parent = nullptr);
    // With whatever `setup` gives; the rest as above.
    explicit Broadcaster(BroadcasterSetup setup, QObject *parent = nullptr);
    ~Broadcaster() override;

    Status status() const;
    // 0.0 to 1.0; follows the microphone while recording, 0 otherwise.
    float level() const;
    // The last failure for the user; a null QString when there is none.
    QString lastError() const;
    // Every speaker of the last broadcast that got as far as driving speakers,
    // in the order they were selected; empty before the first one.
    QList<Delivery> deliveries() const;

    // A tap in the panel starts afresh: the error line and the delivery list go.
    void clearLastError();
    void clearDeliveries();

    QCoro::Task<> startRecording(QList<Speaker> speakers);
    QCoro::Task<> stopAndSend(QList<Speaker> speakers);
    QCoro::Task<> broadcast(QUrl clip, QList<Speaker> speakers, double duration);

    // Closes the Cast sessions opened for the current recording.
    void releaseWarmCasters();

    // The meter's reading for an average power in dBFS: -60 and below show as
    // 0, 0 and above as 1, linearly in decibels between; not a number shows 0.
    static float meterLevel(float averagePower);
    // "1 speaker", "2 speakers".
    static QString speakerCountText(qsizetype count);

Q_SIGNALS:
    void statusChanged();
    void levelChanged();
    void lastErrorChanged();
    void deliveriesChanged();

private:
    struct SonosPreparation;

    QCoro::Task<> send(QUrl clip, QList<Speaker> speakers, double duration,
                       std::unique_ptr<SonosPreparation> prepared);
    void fail(const QString &error);
    void setStatus(const Status &status);
    void setLevel(float level);
    void setLastError(const QString &error);
    void setDeliveries(const QList<Delivery> &deliveries);
    void startMeter();
    void stopMeter();
    void sampleMeter();
    void warmUp(const QList<Speaker> &speakers);
    void prepareSonos(const QList<Speaker> &speakers);
    void endRecording();
    bool anyAddressFor(const QList<Speaker> &speakers) const;
    CastController *newCastController();

    BroadcasterSetup m_setup;
    Status m_status;
    float m_level = 0;
    QString m_lastError;
    QList<Delivery> m_deliveries;
    QTimer m_meter;
    // Cast sessions opened while the user speaks, by speaker id.
    QHash<QString, QPointer<CastController>> m_warmCasters;
    // The Sonos reads made while the user speaks, for the speakers of that recording.
    std::unique_ptr<SonosPreparation> m_sonosPreparation;
    // Sonos players in the middle of an announcement, shared with every broadcast.
    std::shared_ptr<SonosCustody> m_sonosCustody;
    // Counts recordings and broadcasts: only the latest may end in idle or
    // release warm sessions, so a broadcast that ends late cannot cut off a
    // recording that began after it.
    quint64 m_generation = 0;
    // The latest broadcast that began driving speakers owns the delivery list.
    quint64 m_drivingGeneration = 0;
    // Counts releases, so a press still waiting for the microphone knows it was let go.
    quint64 m_releases = 0;
};

} // namespace pealix
