#include "sonos/SonosControl.h"
#include "clipserver/ClipServer.h"
#include "sonos/SonosXml.h"
#include "sonos/SsdpReply.h"
#include "support/FakeSonosPlayer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <QCoro/QCoroTask>
#include <gtest/gtest.h>

#include <memory>

using namespace pealix;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using test::FakeSonosPlayer;
using Behaviour = FakeSonosPlayer::Behaviour;
using State = FakeSonosPlayer::State;

void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace pealix {
void PrintTo(const DeviceReply &reply, std::ostream *out)
{
    *out << "{kind " << int(reply.kind) << ", code \"" << reply.code.toStdString() << "\"}";
}
} // namespace pealix

namespace {

class SonosControlTest : public ::testing::Test
{
protected:
    // The raw text of an argument in the request at `index`.
    QString argument(qsizetype index, const QString &name) const
    {
        return sonos::tagValue(name, player->requests.value(index).body).value_or(u"<none>"_s);
    }

    // The actions from `from` on, one word each.
    QString sent(qsizetype from = 0) const { return player->actions.mid(from).join(u' '); }

    // A player on this fake's port, by default named after its UUID and on this fake's address.
    Speaker sonosSpeaker(const QString &uuid, const QString &name = {}, const QString &host = {}) const
    {
        return Speaker("sonos:" + uuid, SpeakerKind::Sonos, name.isNull() ? uuid : name,
                       host.isNull() ? player->host() : host, player->port(), uuid);
    }

    // Publishes a clip the way a broadcast does; the URL a player is told to play.
    QString publishClip()
    {
        QFile file(clipFolder.filePath(u"clip.m4a"_s));
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(kClipBytes, 'a')) != kClipBytes)
            return {};
        file.close();
        const quint16 port = QCoro::waitFor(clipServer.start(file.fileName()));
        return u"http://127.0.0.1:%1/clip.m4a?a=1&b=2"_s.arg(port);
    }

    // A player in its first state, where the speaker finds it.
    void freshPlayer()
    {
        const quint16 port = player->port();
        player.reset();
        player = std::make_unique<FakeSonosPlayer>(QHostAddress(u"127.0.0.2"_s), port);
    }

    bool waitUntilNotPlaying() const
    {
        return QTest::qWaitFor([this] { return player->state().transportState != u"PLAYING"; }, 5000);
    }

    static constexpr qsizetype kClipBytes = 20000;
    std::unique_ptr<FakeSonosPlayer> player = std::make_unique<FakeSonosPlayer>(QHostAddress(u"127.0.0.2"_s));
    Speaker speaker = sonosSpeaker(u"RINCON_A1400"_s, u"Living Room"_s);
    // Short enough that each hang costs well under a second.
    sonos::HttpLimits limits{400ms, 2000ms};
    SonosControl control{limits};
    QTemporaryDir clipFolder;
    ClipServer clipServer;
};

} // namespace

// From the player's side: what it was sent for the announcement and for the
// restore, and the state it is left in.
TEST_F(SonosControlTest, RestorePutsThePlayerBackAndNothingEndsPlayingThatWasNotPlaying)
{
    struct Situation
    {
        const char *name;
        State before;
        bool refusesClip;
        const char *sent; // after the four reads: the announcement, then the restore
        const char *finalState;
    };
    const Situation situations[] = {
        // The queue's track first, then the time within it.
        {"playing queue", FakeSonosPlayer::queue(5, 137s, u"PLAYING"_s), false,
         "SetAVTransportURI SetVolume Play | SetAVTransportURI SetVolume Seek Seek Play", "PLAYING"},
        {"playing radio stream", FakeSonosPlayer::radio(u"PLAYING"_s), false,
         "SetAVTransportURI SetVolume Play | SetAVTransportURI SetVolume Seek Play", "PLAYING"},
        {"paused radio stream", FakeSonosPlayer::radio(u"PAUSED_PLAYBACK"_s), false,
         "SetAVTransportURI SetVolume Play | SetAVTransportURI SetVolume Seek", "STOPPED"},
        {"paused queue", FakeSonosPlayer::queue(3, 65s, u"PAUSED_PLAYBACK"_s), false,
         "SetAVTransportURI SetVolume Play | SetAVTransportURI SetVolume Seek Seek", "STOPPED"},
        {"stopped queue", FakeSonosPlayer::queue(7, 0s, u"STOPPED"_s), false,
         "SetAVTransportURI SetVolume Play | SetAVTransportURI SetVolume Seek Seek", "STOPPED"},
        // The clip stays its source: there is nothing to go back to, but its volume goes back.
        {"idle player with no source", FakeSonosPlayer::idle(), false,
         "SetAVTransportURI SetVolume Play | SetVolume", "STOPPED"},
        // It keeps its own source; being told to play would resume the user's music, and loud.
        {"paused queue that refuses the clip", FakeSonosPlayer::queue(3, 65s, u"PAUSED_PLAYBACK"_s), true,
         "SetAVTransportURI | SetAVTransportURI SetVolume Seek Seek", "PAUSED_PLAYBACK"},
    };
    const QString clip = publishClip();
    for (const Situation &situation : situations) {
        SCOPED_TRACE(situation.name);
        freshPlayer();
        player->clipPlayTime = 20ms;
        player->setState(situation.before);
        if (situation.refusesClip)
            player->behaviour[u"SetAVTransportURI"_s] = Behaviour::Fault;

        const auto source = QCoro::waitFor(control.snapshotSource(speaker));
        ASSERT_TRUE(source);
        const SonosControl::Snapshot snapshot = QCoro::waitFor(control.snapshotPosition(*source, speaker));
        EXPECT_EQ(QCoro::waitFor(control.play(clip, speaker, 35)),
                  situation.refusesClip ? DeviceReply::refused(u"714"_s) : DeviceReply::accepted());
        ASSERT_TRUE(waitUntilNotPlaying());
        EXPECT_EQ(player->state().volume, situation.refusesClip ? 23 : 35);
        EXPECT_EQ(argument(4, u"CurrentURI"_s), clip.toHtmlEscaped());
        // It fetched the whole clip the way a player does.
        QStringList fetched;
        for (const auto &fetch : std::as_const(player->fetches))
            fetched
                << u"%1 %2 %3"_s.arg(QString::fromLatin1(fetch.method)).arg(fetch.status).arg(fetch.bytes);
        EXPECT_EQ(fetched.join(u", "), situation.refusesClip ? QString() : u"HEAD 200 0, GET 200 20000"_s);
        const qsizetype announced = player->actions.size();

        QCoro::waitFor(control.restore(snapshot, speaker));
        EXPECT_EQ(player->actions.mid(4, announced - 4).join(u' ') + u" | "_s + sent(announced),
                  QString::fromLatin1(situation.sent));
        const State after = player->state();
        EXPECT_EQ(after.transportState, QString::fromLatin1(situation.finalState));
        EXPECT_EQ(after.volume, situation.before.volume);
        EXPECT_EQ(after.uri, situation.before.uri.isEmpty() ? clip : situation.before.uri);
        EXPECT_EQ(after.metadata, situation.before.metadata);
        EXPECT_EQ(after.track, situation.before.uri.isEmpty() ? 1 : situation.before.track);
        EXPECT_GE(after.position, situation.before.position);
        EXPECT_LE(after.position, situation.before.position + (after.transportState == u"PLAYING" ? 5s : 0s));
        for (const auto &request : std::as_const(player->requests)) {
            const auto service =
                request.action.endsWith("Volume"_L1) ? "RenderingControl"_L1 : "AVTransport"_L1;
            EXPECT_EQ(request.path, u"/MediaRenderer/%1/Control"_s.arg(service));
            EXPECT_TRUE(
                request.head.contains(u"\r\nSOAPACTION: \"urn:schemas-upnp-org:service:%1:1#%2\"\r\n"_s
                                          .arg(service, request.action)
                                          .toUtf8()) &&
                request.head.contains("\r\nContent-Type: text/xml; charset=\"utf-8\"\r\n"));
        }
    }
    // The exact envelope, here of the restore's volume.
    EXPECT_EQ(
        player->requests.value(player->actions.indexOf(u"SetVolume"_s)).body,
        uR"(<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/)"
        uR"(envelope/" s:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body><u:SetVolume )"
        uR"(xmlns:u="urn:schemas-upnp-org:service:RenderingControl:1"><InstanceID>0</InstanceID><Channel>)"
        uR"(Master</Channel><DesiredVolume>23</DesiredVolume></u:SetVolume></s:Body></s:Envelope>)"_s);
}

TEST_F(SonosControlTest, PlayRepliesWithWhatThePlayerSaid)
{
    struct Case
    {
        const char *name;
        const char *action;
        Behaviour behaviour;
        QByteArray faultCode;
        DeviceReply reply;
        const char *sent;
    };
    const Case cases[] = {
        {"player takes the clip", "", Behaviour::Answer, "714", DeviceReply::accepted(),
         "SetAVTransportURI SetVolume Play"},
        {"source switch refused with 714", "SetAVTransportURI", Behaviour::Fault, "714",
         DeviceReply::refused(u"714"_s), "SetAVTransportURI"},
        {"source switch a code that is not a number", "SetAVTransportURI", Behaviour::Fault, "<b>7</b>",
         DeviceReply::refused(QString()), "SetAVTransportURI"},
        {"source switch never answered", "SetAVTransportURI", Behaviour::Hang, "", DeviceReply::noAnswer(),
         "SetAVTransportURI"},
        {"volume refused, clip still played", "SetVolume", Behaviour::Fault, "402", DeviceReply::accepted(),
         "SetAVTransportURI SetVolume Play"},
        {"play refused", "Play", Behaviour::Fault, "701", DeviceReply::refused(u"701"_s),
         "SetAVTransportURI SetVolume Play"},
        {"play never answered", "Play", Behaviour::Hang, "", DeviceReply::noAnswer(),
         "SetAVTransportURI SetVolume Play"},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        freshPlayer();
        player->behaviour[QString::fromLatin1(test.action)] = test.behaviour;
        player->faultCode = test.faultCode;
        EXPECT_EQ(QCoro::waitFor(control.play(u"http://127.0.0.1:1/clip.m4a"_s, speaker, 35)), test.reply);
        EXPECT_EQ(sent(), QString::fromLatin1(test.sent));
    }
    // Without a volume the player's own is left alone.
    freshPlayer();
    QCoro::waitFor(control.play(u"http://127.0.0.1:1/clip.m4a"_s, speaker));
    EXPECT_EQ(sent(), u"SetAVTransportURI Play"_s);
}

TEST_F(SonosControlTest, ReadsGoTogetherOrOneAfterAnother)
{
    player->setState(FakeSonosPlayer::queue(2, 30s, u"PAUSED_PLAYBACK"_s));
    player->answerDelay = 100ms;
    // The whole snapshot at once reads one thing at a time, in a fixed order.
    const auto whole = QCoro::waitFor(control.snapshot(speaker));
    EXPECT_EQ(sent(), u"GetMediaInfo GetPositionInfo GetTransportInfo GetVolume"_s);
    EXPECT_EQ(player->concurrency->peak, 1);
    const auto source = QCoro::waitFor(control.snapshotSource(speaker));
    ASSERT_TRUE(source && whole);
    EXPECT_EQ(QCoro::waitFor(control.snapshotPosition(*source, speaker)), *whole);
    EXPECT_EQ(player->concurrency->peak, 2);

    // A volume that cannot be read is reported missing within the request's time limit.
    player->answerDelay = 0ms;
    player->behaviour[u"GetVolume"_s] = Behaviour::Hang;
    QElapsedTimer clock;
    clock.start();
    const auto withoutVolume = QCoro::waitFor(control.snapshotSource(speaker));
    EXPECT_LT(clock.elapsed(), limits.idleTimeout.count() + 500);
    ASSERT_TRUE(withoutVolume);
    EXPECT_EQ(withoutVolume->uri, FakeSonosPlayer::kQueueUri);
    EXPECT_EQ(withoutVolume->volume, QString());
}

TEST_F(SonosControlTest, RestoreSendsBackWhatThePlayerReportedAndOnlyAWholeVolume)
{
    player->setState(FakeSonosPlayer::radio(u"PAUSED_PLAYBACK"_s));
    auto snapshot = QCoro::waitFor(control.snapshot(speaker));
    ASSERT_TRUE(snapshot);
    // The player reported its source escaped; restored, it has exactly that source back, with its
    // "&" single again.
    player->setState(FakeSonosPlayer::idle());
    QCoro::waitFor(control.restore(*snapshot, speaker));
    EXPECT_EQ(player->state().uri, FakeSonosPlayer::kRadioUri);
    EXPECT_EQ(player->state().metadata, FakeSonosPlayer::kRadioMetadata);
    EXPECT_EQ(argument(player->actions.lastIndexOf(u"SetAVTransportURI"_s), u"CurrentURI"_s),
              u"x-sonosapi-stream:s24940?sid=254&amp;flags=8224"_s);

    // A volume is clamped, and one that is not a whole number is not sent; without a source or a
    // volume nothing is sent.
    struct Case
    {
        const char *name;
        const char *uri;
        const char *volume;
        const char *sent;
    };
    const Case cases[] = {
        {"too loud", "x-rincon-queue:R#0", "150", "SetAVTransportURI SetVolume Seek Seek: 100"},
        {"negative", "x-rincon-queue:R#0", "-5", "SetAVTransportURI SetVolume Seek Seek: 0"},
        {"space before", "x-rincon-queue:R#0", " 7", "SetAVTransportURI Seek Seek: <none>"},
        {"no source, no volume", "", "", ": <none>"}};
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        snapshot->uri = QString::fromLatin1(test.uri);
        snapshot->volume = QString::fromLatin1(test.volume);
        const qsizetype before = player->requests.size();
        QCoro::waitFor(control.restore(*snapshot, speaker));
        const qsizetype volume = player->actions.indexOf(u"SetVolume"_s, before);
        EXPECT_EQ(sent(before) + ": " + (volume < 0 ? u"<none>"_s : argument(volume, u"DesiredVolume"_s)),
                  QString::fromLatin1(test.sent));
    }
}

TEST_F(SonosControlTest, BadAnswersAreNoAnswerAndLaterStepsStillRun)
{
    // Missing values fall back to defaults; a hanging or failing step loses only its own value;
    // invalid UTF-8 is replaced, not fatal.
    player->responses[u"GetMediaInfo"_s] = "<CurrentURIMetaData>only\xff</CurrentURIMetaData>";
    player->responses[u"GetPositionInfo"_s] = "<TrackURI>x</TrackURI>";
    player->behaviour[u"GetTransportInfo"_s] = Behaviour::Hang;
    player->behaviour[u"GetVolume"_s] = Behaviour::Fault;
    EXPECT_EQ(
        QCoro::waitFor(control.snapshot(speaker)),
        (SonosControl::Snapshot{QString(), u"only\uFFFD"_s, u"1"_s, u"0:00:00"_s, u"STOPPED"_s, QString()}));

    // Without the source there is no snapshot at all.
    for (const Behaviour behaviour : {Behaviour::Fault, Behaviour::Hang, Behaviour::Garbage}) {
        player->behaviour[u"GetMediaInfo"_s] = behaviour;
        EXPECT_FALSE(QCoro::waitFor(control.snapshot(speaker))) << int(behaviour);
        EXPECT_FALSE(QCoro::waitFor(control.snapshotSource(speaker))) << int(behaviour);
    }

    // A player that is gone entirely: the request fails fast and quietly.
    player.reset();
    EXPECT_FALSE(QCoro::waitFor(control.snapshot(speaker)));
    EXPECT_EQ(QCoro::waitFor(control.play(u"http://127.0.0.1:1/clip.m4a"_s, speaker, 35)),
              DeviceReply::noAnswer());
}

TEST_F(SonosControlTest, CoordinatorsComeFromTheFirstSpeakersTopology)
{
    // Two groups in a ZoneGroups wrapper, with a satellite and invisible members, then broken ones:
    // an unterminated attribute loses its group; a member without a usable name or address keeps
    // the speaker's own.
    const QString topology = uR"(<ZoneGroupState><ZoneGroups><ZoneGroup Coordinator="A">
  <ZoneGroupMember UUID="A" ZoneName="Living Room" Location="http://127.0.0.51:1400/">
    <Satellite UUID="SL" Invisible="1"/></ZoneGroupMember>
  <ZoneGroupMember UUID="B" ZoneName="Kitchen"/></ZoneGroup>
<ZoneGroup Coordinator="C"><ZoneGroupMember UUID="C" ZoneName="Office" Location="http://127.0.0.53:1400/"/>
  <ZoneGroupMember UUID="SUB" Invisible="1"/></ZoneGroup>
<ZoneGroup Coordinator="UNTERMINATED><ZoneGroupMember UUID="M1" ZoneName="Lost"/></ZoneGroup>
<ZoneGroup Coordinator="D"><ZoneGroupMember UUID="M2" Location="not a url" ZoneName="Den/>
  <ZoneGroupMember ZoneName="No uuid"/></ZoneGroup></ZoneGroups></ZoneGroupState>)"_s;
    player->responses[u"GetZoneGroupState"_s] =
        "<ZoneGroupState>" + topology.toHtmlEscaped().toUtf8() + "</ZoneGroupState>";
    const Speaker noUuid{u"sonos:X"_s, SpeakerKind::Sonos, u"X"_s, u"127.0.0.70"_s, 1400, std::nullopt};
    // Satellites are children of a member and are not read; invisible members are.
    const QList<Speaker> input{sonosSpeaker(u"B"_s),   sonosSpeaker(u"SL"_s), sonosSpeaker(u"A"_s), noUuid,
                               sonosSpeaker(u"SUB"_s), sonosSpeaker(u"M1"_s), sonosSpeaker(u"M2"_s)};
    EXPECT_EQ(QCoro::waitFor(control.coordinators(input)),
              (QList<Speaker>{sonosSpeaker(u"A"_s, u"Living Room"_s, u"127.0.0.51"_s), input[1], noUuid,
                              sonosSpeaker(u"C"_s, u"Office"_s, u"127.0.0.53"_s), input[5],
                              sonosSpeaker(u"D"_s, u"M2"_s)}));
    EXPECT_EQ(player->requests.value(0).path, u"/ZoneGroupTopology/Control"_s);

    // An unreadable topology leaves the speakers as they are.
    player->behaviour[u"GetZoneGroupState"_s] = Behaviour::Fault;
    EXPECT_EQ(QCoro::waitFor(control.coordinators(input)), input);
}

TEST(SonosParsing, XmlHelpersDescriptionsAndLocationHeaders)
{
    EXPECT_EQ(sonos::xmlEscape(u"\"x' > a<b&c &lt;"_s), u"&quot;x&apos; &gt; a&lt;b&amp;c &amp;lt;"_s);
    // "&amp;" goes last: an escaped entity comes back as the entity, not the character.
    EXPECT_EQ(sonos::xmlUnescape(u"&amp;lt;&lt;&amp;&#38;"_s), u"&lt;<&&#38;"_s);

    // A longer tag is not the tag, nothing is trimmed; a closing tag first or a missing one gives nothing.
    const std::pair<const char *, const char *> tags[] = {
        {"<AB>x</AB><A> 7 </A>", " 7 "}, {"</A><A>x", "none"}, {"<A>never closed", "none"}};
    for (const auto &[body, value] : tags)
        EXPECT_EQ(sonos::tagValue(u"A"_s, QString::fromLatin1(body)).value_or(u"none"_s),
                  QString::fromLatin1(value));

    // A room name is text: trimmed, then its entities decoded once; the id keeps the UDN as it is.
    const auto described = [](const char *roomName, const char *udn) {
        const auto speaker =
            sonos::speakerFromDescription(u"http://127.0.0.3:1400/xml/device_description.xml"_s,
                                          u"<root><roomName>%1</roomName><UDN>%2</UDN></root>"_s.arg(
                                              QLatin1String(roomName), QLatin1String(udn)));
        return speaker ? speaker->name + u" / "_s + speaker->id : u"none"_s;
    };
    EXPECT_EQ(described("\n  Kid&apos;s Room &amp; Den ", "uuid:RINCON_K1400"),
              u"Kid's Room & Den / sonos:RINCON_K1400"_s);
    EXPECT_EQ(described("&quot;Loft&quot; &amp;lt;3 &lt;&gt;", "uuid:A&amp;B"),
              u"\"Loft\" &lt;3 <> / sonos:A&amp;B"_s);

    // Location headers: any letter case, trimmed; only a Sonos-looking location counts.
    const QByteArray reply = "HTTP/1.1 200 OK\r\nlocation:\t http://127.0.0.3:1400/a.xml \t\r\n"
                             "Location:http://127.0.0.4:8080/x/device_description\r\n"
                             "Location : http://127.0.0.6:1400/space-before-colon.xml\r\n"
                             "Location: http://SoNoS-hub.local/desc.xml\r\n"
                             "LOCATION: http://127.0.0.4/DEVICE_DESCRIPTION\r\n\r\n";
    EXPECT_EQ(sonos::sonosLocations(reply),
              (QStringList{"http://127.0.0.3:1400/a.xml", "http://127.0.0.4:8080/x/device_description",
                           "http://SoNoS-hub.local/desc.xml"}));
    EXPECT_TRUE(sonos::sonosLocations("LOCATION: http://127.0.0.2:1400/\xff\r\n").isEmpty());
}
