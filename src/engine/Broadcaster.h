#pragma once

// PUBLIC CONTRACT: the panel and the start-up code are written against the
// public section below. The private section and the .cpp are the engine's.

#include "engine/Delivery.h"
#include "model/Speaker.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

namespace pealix {

// The announcement cycle: records while push-to-talk is held, then publishes
// the clip and has every selected speaker play it; also plays saved messages.
// One instance, on the main thread.
class Broadcaster : public QObject
{
    Q_OBJECT
    Q_PROPERTY(pealix::Broadcaster::Status status READ status NOTIFY statusChanged)
    Q_PROPERTY(float level READ level NOTIFY levelChanged)
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(QList<pealix::Delivery> deliveries READ deliveries NOTIFY deliveriesChanged)

public:
    struct Status
    {
        Q_GADGET
    public:
        enum class Kind { Idle, Recording, Broadcasting };
        Q_ENUM(Kind)

        Kind kind = Kind::Idle;
        QString text; // Broadcasting only: "1 speaker", "3 speakers"

        static Status idle() { return {Kind::Idle, {}}; }
        static Status recording() { return {Kind::Recording, {}}; }
        static Status broadcasting(QString text) { return {Kind::Broadcasting, std::move(text)}; }
        friend bool operator==(const Status &, const Status &) = default;
    };

    explicit Broadcaster(QObject *parent = nullptr);
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

Q_SIGNALS:
    void statusChanged();
    void levelChanged();
    void lastErrorChanged();
    void deliveriesChanged();

private:
};

} // namespace pealix

Q_DECLARE_METATYPE(pealix::Broadcaster::Status)
