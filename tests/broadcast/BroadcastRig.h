#pragma once

#include "audio/AudioEncoder.h"
#include "broadcast/FakeRecorder.h"
#include "engine/Broadcaster.h"
#include "support/FakeCastDevice.h"
#include "support/FakeSonosPlayer.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

// Readable failures: what the user would read, not bytes.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace pealix {

inline void PrintTo(const BroadcastStatus &status, std::ostream *out)
{
    static const char *const kinds[] = {"idle", "recording", "broadcasting"};
    *out << kinds[int(status.kind)];
    if (!status.text.isEmpty())
        *out << " \"" << status.text.toStdString() << '"';
}

inline void PrintTo(const Delivery &delivery, std::ostream *out)
{
    static const char *const outcomes[] = {"played", "no answer", "refused", "not ready"};
    *out << delivery.speaker.name.toStdString() << ": " << outcomes[int(delivery.outcome)];
    if (!delivery.code.isEmpty())
        *out << ' ' << delivery.code.toStdString();
}

} // namespace pealix

namespace pealix::test {

using namespace std::chrono_literals;

// A real clip: `seconds` of a 440 Hz tone, mono AAC in .m4a, as the recorder makes them.
inline QByteArray makeClip(const QString &path, double seconds)
{
    AudioEncoder encoder;
    if (!encoder.open(path))
        return {};
    std::vector<int16_t> samples(std::size_t(seconds * AudioEncoder::sampleRate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(8000 * std::sin(2 * M_PI * 440 * double(i) / AudioEncoder::sampleRate));
    if (!encoder.write(samples.data(), samples.size()) || !encoder.finish())
        return {};
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline Speaker sonosSpeaker(const FakeSonosPlayer &player, const QString &uuid)
{
    return {u"sonos:"_s + uuid, SpeakerKind::Sonos, uuid, player.host(), player.port(), uuid};
}

inline Speaker castSpeaker(const FakeCastDevice &device, const QString &name)
{
    return {u"cast:"_s + name,
            SpeakerKind::Chromecast,
            name,
            device.serverAddress().toString(),
            device.serverPort(),
            std::nullopt};
}

// A Cast device that launches the media receiver (transport "t-1") and plays
// what it is given, fetching it as a real one does.
inline bool startReceiver(FakeCastDevice &device)
{
    device.onLaunch = {
        FakeCastDevice::receiverStatus(u"["_s + FakeCastDevice::mediaReceiverApp(u"t-1"_s) + u"]"_s)};
    device.fetchOnLoad = true;
    device.playMs = 100;
    return device.start();
}

// The receiver was launched on `device`: a session opened while the user speaks.
inline bool awaitReceiver(const FakeCastDevice &device)
{
    return waitUntil([&device] { return device.received.contains(connectTo(u"t-1"_s)); });
}

// A GetZoneGroupState answer with one group: `members` by UUID, the first one coordinating.
inline QByteArray zoneGroupState(const QList<std::pair<QString, const FakeSonosPlayer *>> &members)
{
    QString group = uR"(<ZoneGroups><ZoneGroup Coordinator="%1" ID="%1:7">)"_s.arg(members.first().first);
    for (const auto &[uuid, player] : members) {
        group += uR"(<ZoneGroupMember UUID="%1" Location="http://%2:%3/xml/device_description.xml" )"
                 uR"(ZoneName="Room %1"/>)"_s.arg(uuid, player->host())
                     .arg(player->port());
    }
    group += u"</ZoneGroup></ZoneGroups>"_s;
    group.replace(u'&', u"&amp;"_s)
        .replace(u'<', u"&lt;"_s)
        .replace(u'>', u"&gt;"_s)
        .replace(u'"', u"&quot;"_s);
    return "<ZoneGroupState>" + group.toUtf8() + "</ZoneGroupState>";
}

// What the user left the player doing, compared the way a user would: a
// playing player's position moves on, so only a stopped or paused one must be
// back at exactly its place; and a paused player comes back stopped at that
// place (a player can be set to a source and a position, not to "paused"),
// which is the same to its user: not playing, resuming from there.
inline testing::AssertionResult sameSituation(const FakeSonosPlayer::State &before,
                                              const FakeSonosPlayer::State &after)
{
    FakeSonosPlayer::State compared = after;
    if (before.transportState == u"PLAYING"_s)
        compared.position = before.position;
    if (before.transportState == u"PAUSED_PLAYBACK"_s && compared.transportState == u"STOPPED"_s)
        compared.transportState = before.transportState;
    if (compared == before)
        return testing::AssertionSuccess();
    const auto describe = [](const FakeSonosPlayer::State &state) {
        return u"%1 track %2 at %3 ms, %4, volume %5"_s.arg(state.uri)
            .arg(state.track)
            .arg(state.position.count())
            .arg(state.transportState)
            .arg(state.volume)
            .toStdString();
    };
    return testing::AssertionFailure() << "was " << describe(before) << ", is " << describe(after);
}

// Every clip URL the player was told to play, as it received them.
inline QStringList clipUrls(const FakeSonosPlayer &player)
{
    QStringList urls;
    for (const auto &request : player.requests) {
        if (request.action == u"SetAVTransportURI"_s && request.body.contains(u"/clip.m4a"_s))
            urls << request.body.section(u"<CurrentURI>"_s, 1).section(u"</CurrentURI>"_s, 0, 0);
    }
    return urls;
}

// A broadcaster with a fake microphone, short waits, its own preferences and
// loopback addresses, whose speakers may fetch the clip from loopback; records
// every status it shows.
struct BroadcastRig
{
    explicit BroadcastRig(const std::function<void(BroadcasterSetup &)> &adjust = {})
        : preferences(std::make_unique<QSettings>(dir.filePath(u"prefs.ini"_s), QSettings::IniFormat))
    {
        clipPath = dir.filePath(u"pealix-clip.m4a"_s);
        clipBytes = makeClip(clipPath, 0.5);
        recorder = new FakeRecorder;
        recorder->clipPath = clipPath;
        recorder->clipSeconds = 0.5;

        BroadcasterSetup setup;
        setup.recorder.reset(recorder);
        setup.preferences = &preferences;
        setup.localAddressFor = [](const QHostAddress &) { return std::optional(u"127.0.0.1"_s); };
        setup.makeSonosControl = [] {
            sonos::HttpLimits limits;
            limits.idleTimeout = 1000ms; // a player that hangs costs a second per request
            return SonosControl(limits);
        };
        setup.makeCastController = [] {
            auto *session = new CastController;
            session->setTimings({1500ms, 200ms});
            return session;
        };
        setup.holdPadding = 200ms;
        // The fake speakers live on loopback, where no real one could.
        setup.loopbackSpeakers = true;
        if (adjust)
            adjust(setup);
        if (setup.recorder.get() != recorder)
            recorder = nullptr; // the test brought its own microphone
        broadcaster = std::make_unique<Broadcaster>(std::move(setup));
        QObject::connect(broadcaster.get(), &Broadcaster::statusChanged,
                         [this] { statuses << broadcaster->status(); });
    }

    // Runs one operation to its end; false when it did not end within ten seconds.
    static bool run(QCoro::Task<> task)
    {
        return waitUntil([&task] { return task.isReady(); });
    }

    Broadcaster::Status status() const { return broadcaster->status(); }

    QTemporaryDir dir;
    Preferences preferences;
    QString clipPath;
    QByteArray clipBytes;
    FakeRecorder *recorder = nullptr; // the broadcaster's, unless the test gave it another
    std::unique_ptr<Broadcaster> broadcaster;
    QList<Broadcaster::Status> statuses;
};

inline const Broadcaster::Status idle = Broadcaster::Status::idle();
inline const Broadcaster::Status recording = Broadcaster::Status::recording();
inline Broadcaster::Status broadcasting(const QString &text)
{
    return Broadcaster::Status::broadcasting(text);
}

} // namespace pealix::test
