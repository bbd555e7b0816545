#include "engine/Broadcaster.h"

#include "audio/AudioFileDuration.h"
#include "cast/CastController.h"
#include "clipserver/ClipServer.h"
#include "clipserver/ClipServerError.h"
#include "engine/CastAnnouncement.h"
#include "engine/MicrophoneRecorder.h"
#include "engine/SonosAnnouncement.h"
#include "engine/SpeakerEndpoint.h"
#include "net/LocalNetworkAddress.h"
#include "net/WhenAll.h"

#include <QSet>

#include <algorithm>
#include <cmath>

namespace pealix {

namespace {

// The first of each id, in order: a speaker listed twice is still one speaker.
QList<Speaker> distinct(const QList<Speaker> &speakers)
{
    QList<Speaker> unique;
    QSet<QString> seen;
    for (const Speaker &speaker : speakers) {
        if (!seen.contains(speaker.id)) {
            seen.insert(speaker.id);
            unique << speaker;
        }
    }
    return unique;
}

QList<Speaker> ofKind(const QList<Speaker> &speakers, SpeakerKind kind)
{
    QList<Speaker> chosen;
    std::copy_if(speakers.cbegin(), speakers.cend(), std::back_inserter(chosen),
                 [kind](const Speaker &speaker) { return speaker.kind == kind; });
    return chosen;
}

BroadcasterSetup completed(BroadcasterSetup setup)
{
    if (!setup.recorder)
        setup.recorder = std::make_unique<MicrophoneRecorder>();
    if (!setup.preferences)
        setup.preferences = &Preferences::shared();
    if (!setup.localAddressFor)
        setup.localAddressFor = [](const QHostAddress &speaker) { return net::localAddressFor(speaker); };
    if (!setup.makeSonosControl)
        setup.makeSonosControl = [] { return SonosControl(); };
    if (!setup.makeCastController)
        setup.makeCastController = [] { return new CastController; };
    return setup;
}

} // namespace

// The Sonos work begun when a recording starts, kept for its release.
struct Broadcaster::SonosPreparation
{
    QList<Speaker> speakers; // the Sonos speakers of the recording, as given
    bool restore = true;
    SonosControl control;
    QCoro::Task<std::shared_ptr<SonosAnnouncement::Plan>> plan;
};

Broadcaster::Broadcaster(QObject *parent) : Broadcaster(BroadcasterSetup(), parent) {}

Broadcaster::Broadcaster(BroadcasterSetup setup, QObject *parent)
    : QObject(parent), m_setup(completed(std::move(setup))), m_sonosCustody(std::make_shared<SonosCustody>())
{
    m_meter.setTimerType(Qt::PreciseTimer);
    connect(&m_meter, &QTimer::timeout, this, &Broadcaster::sampleMeter);
}

Broadcaster::~Broadcaster()
{
    releaseWarmCasters();
}

Broadcaster::Status Broadcaster::status() const
{
    return m_status;
}

float Broadcaster::level() const
{
    return m_level;
}

QString Broadcaster::lastError() const
{
    return m_lastError;
}

QList<Delivery> Broadcaster::deliveries() const
{
    return m_deliveries;
}

void Broadcaster::clearLastError()
{
    setLastError(QString());
}

void Broadcaster::clearDeliveries()
{
    setDeliveries({});
}

float Broadcaster::meterLevel(float averagePower)
{
    const float level = std::min((averagePower + 60.0f) / 60.0f, 1.0f);
    return level >= 0.0f ? level : 0.0f; // also catches not-a-number
}

QString Broadcaster::speakerCountText(qsizetype count)
{
    return QString::number(count) + (count == 1 ? QStringLiteral(" speaker") : QStringLiteral(" speakers"));
}

QCoro::Task<> Broadcaster::startRecording(QList<Speaker> speakers)
{
    if (m_status.kind != Status::Kind::Idle)
        co_return;
    const quint64 releases = m_releases;
    QPointer<Broadcaster> self(this);
    const bool granted = co_await m_setup.recorder->requestPermission();
    // Let go while we waited, or another press got there first: nothing to record.
    if (!self || m_releases != releases || m_status.kind != Status::Kind::Idle)
        co_return;
    if (!granted) {
        setLastError(microphoneDeniedText);
        co_return;
    }
    if (const std::optional<QString> error = m_setup.recorder->start()) {
        setLastError(startFailedText + *error);
        co_return;
    }
    ++m_generation;
    setStatus(Status::recording());
    startMeter();
    warmUp(speakers);
    prepareSonos(speakers);
}

QCoro::Task<> Broadcaster::stopAndSend(QList<Speaker> speakers)
{
    ++m_releases;
    if (m_status.kind != Status::Kind::Recording) {
        // Let go without a recording (or during a broadcast, which carries on).
        endRecording();
        m_sonosPreparation.reset();
        releaseWarmCasters();
        setStatus(Status::idle());
        co_return;
    }
    QString reason;
    const std::optional<ClipRecorder::Clip> clip = m_setup.recorder->stop(&reason);
    stopMeter();
    std::unique_ptr<SonosPreparation> prepared = std::move(m_sonosPreparation);
    if (!clip || !(clip->duration >= m_setup.shortestClipSeconds)) {
        releaseWarmCasters();
        setStatus(Status::idle());
        setLastError(clip ? tooShortText : finishFailedText + reason);
        co_return;
    }
    co_await send(clip->url, speakers, clip->duration, std::move(prepared));
}

QCoro::Task<> Broadcaster::broadcast(QUrl clip, QList<Speaker> speakers, double duration)
{
    // A saved message's length comes from its file, which may not be audio at all.
    if (!std::isfinite(duration) || duration < 0 || !audioFileDuration(clip.toLocalFile())) {
        ++m_generation;
        fail(unreadableLengthText);
        co_return;
    }
    co_await send(std::move(clip), std::move(speakers), duration, nullptr);
}

QCoro::Task<> Broadcaster::send(QUrl clip, QList<Speaker> speakers, double duration,
                                std::unique_ptr<SonosPreparation> prepared)
{
    const quint64 generation = ++m_generation;
    QPointer<Broadcaster> self(this);
    speakers = distinct(speakers);
    if (speakers.isEmpty()) {
        fail(noSpeakersText);
        co_return;
    }
    if (!anyAddressFor(speakers)) {
        fail(noAddressText);
        co_return;
    }

    QPointer<ClipServer> server = new ClipServer(this);
    // Nobody may fetch until a speaker is about to be told where: each child
    // lets its device in just before it sends the URL.
    server->allowPeers({});
    quint16 port = 0;
    QString serverError;
    try {
        port = co_await server->start(clip.toLocalFile());
    } catch (const ClipServerError &error) {
        serverError = error.description();
    }
    if (!self)
        co_return;
    if (port == 0) {
        delete server.data();
        fail(serverFailedText +
             (serverError.isEmpty() ? QStringLiteral("no port to listen on") : serverError));
        co_return;
    }

    const QList<Speaker> sonos = ofKind(speakers, SpeakerKind::Sonos);
    const QList<Speaker> cast = ofKind(speakers, SpeakerKind::Chromecast);
    Preferences &preferences = *m_setup.preferences;
    AnnouncementCue cue;
    cue.port = port;
    cue.duration = duration;
    cue.holdPadding = m_setup.holdPadding;
    cue.volume = preferences.announcementVolume();
    cue.restore = preferences.restoreAfterClip();
    cue.localAddressFor = m_setup.localAddressFor;
    cue.custody = m_sonosCustody;
    cue.allowFetches = [server](const QList<QHostAddress> &peers) {
        if (server)
            server->allowPeers(peers);
    };
    cue.loopbackSpeakers = m_setup.loopbackSpeakers;

    setStatus(Status::broadcasting(speakerCountText(speakers.size())));
    endRecording();
    m_drivingGeneration = generation;
    setDeliveries({});

    // Cast devices first: nothing a Sonos player does may hold them up.
    std::vector<QCoro::Task<std::vector<SpeakerAttempt>>> children;
    QHash<QString, QPointer<CastController>> warm = std::exchange(m_warmCasters, {});
    for (const Speaker &speaker : cast) {
        if (warm.contains(speaker.id))
            children.push_back(CastAnnouncement::playWarm(warm.take(speaker.id), speaker, cue));
        else
            children.push_back(CastAnnouncement::playCold(newCastController(), speaker, cue));
    }
    for (const QPointer<CastController> &unused : std::as_const(warm))
        CastAnnouncement::retire(unused);

    if (!sonos.isEmpty()) {
        if (prepared && prepared->speakers == sonos && prepared->restore == cue.restore) {
            children.push_back(SonosAnnouncement::play(prepared->control, std::move(prepared->plan), cue));
        } else {
            const SonosControl control = m_setup.makeSonosControl();
            children.push_back(
                SonosAnnouncement::play(control, SonosAnnouncement::look(control, sonos), cue));
        }
    }
    prepared.reset();

    std::vector<SpeakerAttempt> attempts;
    for (auto &done : co_await net::whenAll(std::move(children)))
        attempts.insert(attempts.end(), done.begin(), done.end());

    if (!server)
        co_return; // the broadcaster went away, and its server with it
    const QList<QHostAddress> fetchedBy = server->completedFetches();
    server->stop();
    server->deleteLater();
    if (m_drivingGeneration == generation)
        setDeliveries(deliveriesFor(speakers, attempts, fetchedBy));
    if (m_generation == generation) {
        releaseWarmCasters();
        setStatus(Status::idle());
    }
}

void Broadcaster::fail(const QString &error)
{
    // Idle means no microphone open, whatever was under way when this failed.
    endRecording();
    setLastError(error);
    setStatus(Status::idle());
}

bool Broadcaster::anyAddressFor(const QList<Speaker> &speakers) const
{
    return std::any_of(speakers.cbegin(), speakers.cend(), [this](const Speaker &speaker) {
        return SpeakerEndpoint::reachNow(speaker.host, m_setup.localAddressFor).localAddress.has_value();
    });
}

void Broadcaster::setStatus(const Status &status)
{
    if (m_status == status)
        return;
    m_status = status;
    Q_EMIT statusChanged();
}

void Broadcaster::setLevel(float level)
{
    if (m_level == level)
        return;
    m_level = level;
    Q_EMIT levelChanged();
}

void Broadcaster::setLastError(const QString &error)
{
    if (m_lastError == error && m_lastError.isNull() == error.isNull())
        return;
    m_lastError = error;
    Q_EMIT lastErrorChanged();
}

void Broadcaster::setDeliveries(const QList<Delivery> &deliveries)
{
    if (m_deliveries == deliveries)
        return;
    m_deliveries = deliveries;
    Q_EMIT deliveriesChanged();
}

void Broadcaster::startMeter()
{
    sampleMeter();
    m_meter.start(m_setup.meterInterval);
}

void Broadcaster::stopMeter()
{
    m_meter.stop();
    setLevel(0);
}

void Broadcaster::sampleMeter()
{
    const std::optional<float> power = m_setup.recorder->averagePower();
    setLevel(power ? meterLevel(*power) : 0.0f);
}

void Broadcaster::endRecording()
{
    // A broadcast that starts while the microphone is open (a saved message sent
    // mid-recording) ends that recording: it could never be sent any more.
    stopMeter();
    if (m_setup.recorder->isRecording())
        m_setup.recorder->stop(nullptr);
}

void Broadcaster::warmUp(const QList<Speaker> &speakers)
{
    for (const Speaker &speaker : ofKind(distinct(speakers), SpeakerKind::Chromecast)) {
        CastController *session = newCastController();
        if (const QPointer<CastController> earlier = m_warmCasters.take(speaker.id))
            CastAnnouncement::retire(earlier);
        m_warmCasters.insert(speaker.id, session);
        // Its outcome is read when the clip is sent (isPrepared).
        session->prepare(speaker);
    }
}

void Broadcaster::releaseWarmCasters()
{
    for (const QPointer<CastController> &session : std::as_const(m_warmCasters))
        CastAnnouncement::retire(session);
    m_warmCasters.clear();
}

void Broadcaster::prepareSonos(const QList<Speaker> &speakers)
{
    m_sonosPreparation.reset();
    const QList<Speaker> sonos = ofKind(distinct(speakers), SpeakerKind::Sonos);
    if (sonos.isEmpty())
        return;
    auto preparation = std::make_unique<SonosPreparation>();
    preparation->speakers = sonos;
    preparation->restore = m_setup.preferences->restoreAfterClip();
    preparation->control = m_setup.makeSonosControl();
    preparation->plan =
        SonosAnnouncement::prepare(preparation->control, sonos, preparation->restore, m_sonosCustody);
    m_sonosPreparation = std::move(preparation);
}

CastController *Broadcaster::newCastController()
{
    CastController *session = m_setup.makeCastController();
    session->setParent(this);
    return session;
}

} // namespace pealix
