#include "sonos/SonosControl.h"
#include "sonos/SonosXml.h"
#include "sonos/SsdpReply.h"
#include "support/FakeSonosPlayer.h"

#include <QCoro/QCoroTask>
#include <gtest/gtest.h>

#include <memory>

using namespace pealix;
using namespace Qt::StringLiterals;
using test::FakeSonosPlayer;
using Behaviour = FakeSonosPlayer::Behaviour;

namespace {

class SonosControlTest : public ::testing::Test
{
protected:
    // The raw text of an argument in the request at `index`.
    QString argument(qsizetype index, const QString &name) const
    {
        return sonos::tagValue(name, player->requests.value(index).body).value_or(u"<none>"_s);
    }

    // A player on this fake's port, by default named after its UUID and on this fake's address.
    Speaker sonosSpeaker(const QString &uuid, const QString &name = {}, const QString &host = {}) const
    {
        return Speaker("sonos:" + uuid, SpeakerKind::Sonos, name.isNull() ? uuid : name,
                       host.isNull() ? player->host() : host, player->port(), uuid);
    }

    std::unique_ptr<FakeSonosPlayer> player = std::make_unique<FakeSonosPlayer>(QHostAddress(u"127.0.0.2"_s));
    Speaker speaker = sonosSpeaker(u"RINCON_A1400"_s, u"Living Room"_s);
    // Short enough that each hang costs well under a second.
    SonosControl control{sonos::HttpLimits{std::chrono::milliseconds(400), std::chrono::milliseconds(2000)}};
};

} // namespace

TEST_F(SonosControlTest, FullAnnouncementPutsThePlayerBackOnItsQueueTrack)
{
    player->responses[u"GetMediaInfo"_s] = "<CurrentURI>x-rincon-queue:RINCON_A1400#0</CurrentURI>";
    const auto snapshot = QCoro::waitFor(control.snapshot(speaker));
    ASSERT_TRUE(snapshot);
    QCoro::waitFor(control.setVolume(35, speaker));
    QCoro::waitFor(control.play(u"http://127.0.0.1:40000/clip.m4a?a=1&b=2"_s, speaker));
    QCoro::waitFor(control.restore(*snapshot, speaker));

    EXPECT_EQ(player->actions, (QStringList{"GetMediaInfo", "GetPositionInfo", "GetTransportInfo",
                                            "GetVolume", "SetVolume", "SetAVTransportURI", "Play",
                                            "SetAVTransportURI", "SetVolume", "Seek", "Seek", "Play"}));
    EXPECT_EQ(argument(5, u"CurrentURI"_s), u"http://127.0.0.1:40000/clip.m4a?a=1&amp;b=2"_s);
    // The queue's track first, then the time within it.
    EXPECT_EQ(argument(9, u"Unit"_s) + ' ' + argument(9, u"Target"_s), u"TRACK_NR 5"_s);
    EXPECT_EQ(argument(10, u"Unit"_s) + ' ' + argument(10, u"Target"_s), u"REL_TIME 0:02:17"_s);
    const QString setVolume =
        uR"(<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/)"
        uR"(envelope/" s:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body><u:SetVolume )"
        uR"(xmlns:u="urn:schemas-upnp-org:service:RenderingControl:1"><InstanceID>0</InstanceID><Channel>)"
        uR"(Master</Channel><DesiredVolume>35</DesiredVolume></u:SetVolume></s:Body></s:Envelope>)"_s;
    EXPECT_EQ(player->requests.value(4).body, setVolume);

    for (const auto &request : std::as_const(player->requests)) {
        const auto service = request.action.endsWith("Volume"_L1) ? "RenderingControl"_L1 : "AVTransport"_L1;
        const QString soapAction =
            u"\r\nSOAPACTION: \"urn:schemas-upnp-org:service:%1:1#%2\"\r\n"_s.arg(service, request.action);
        EXPECT_EQ(request.path, u"/MediaRenderer/%1/Control"_s.arg(service));
        EXPECT_TRUE(request.head.contains(soapAction.toUtf8()) &&
                    request.head.contains("\r\nContent-Type: text/xml; charset=\"utf-8\"\r\n"));
    }
}

TEST_F(SonosControlTest, RestoreSendsBackWhatThePlayerReportedAndOnlyAWholeVolume)
{
    // Without a URI there is no source to go back to, but the volume still goes back.
    QCoro::waitFor(control.restore({{}, {}, u"1"_s, u"0:00:09"_s, u"PLAYING"_s, u"12"_s}, speaker));
    EXPECT_EQ(player->actions, QStringList{u"SetVolume"_s});
    player->requests.clear();
    player->actions.clear();
    player->responses[u"GetTransportInfo"_s] =
        "<CurrentTransportState>PAUSED_PLAYBACK</CurrentTransportState>";
    auto snapshot = QCoro::waitFor(control.snapshot(speaker));
    ASSERT_TRUE(snapshot);
    // A radio stream has no track to return to, and a paused player stays paused; the volume is
    // clamped, and one that is not a whole number is not sent.
    for (const auto &[stored, sent] : {std::pair{"150", "SetAVTransportURI SetVolume Seek: 100"},
                                       {"-5", "SetAVTransportURI SetVolume Seek: 0"},
                                       {" 7", "SetAVTransportURI Seek: <none>"}}) {
        snapshot->volume = QString::fromUtf8(stored);
        const qsizetype before = player->requests.size();
        QCoro::waitFor(control.restore(*snapshot, speaker));
        const qsizetype volume = player->actions.indexOf(u"SetVolume"_s, before);
        EXPECT_EQ(player->actions.mid(before).join(u' ') + ": " + argument(volume, u"DesiredVolume"_s),
                  QString::fromLatin1(sent));
    }
    // On the wire once-escaped, so an XML reader on the player sees a single "&".
    const QString reported = QString::fromUtf8(player->responses.value(u"GetMediaInfo"_s));
    for (const QString &name : {u"CurrentURI"_s, u"CurrentURIMetaData"_s})
        EXPECT_EQ(argument(player->actions.lastIndexOf(u"SetAVTransportURI"_s), name),
                  sonos::tagValue(name, reported));
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
    }

    const qsizetype before = player->requests.size();
    player->behaviour[u"SetAVTransportURI"_s] = Behaviour::Hang;
    EXPECT_EQ(QCoro::waitFor(control.play(u"http://127.0.0.1:1/clip.m4a"_s, speaker)), DeviceReply::noAnswer());
    EXPECT_EQ(player->actions.mid(before), QStringList{u"SetAVTransportURI"_s});

    // A player that is gone entirely: the request fails fast and quietly.
    player.reset();
    EXPECT_FALSE(QCoro::waitFor(control.snapshot(speaker)));
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

TEST(SonosParsing, XmlHelpersEnvelopeAndLocationHeaders)
{
    EXPECT_EQ(sonos::xmlEscape(u"\"x' > a<b&c &lt;"_s), u"&quot;x&apos; &gt; a&lt;b&amp;c &amp;lt;"_s);
    // "&amp;" goes last: an escaped entity comes back as the entity, not the character.
    EXPECT_EQ(sonos::xmlUnescape(u"&amp;lt;&lt;&amp;&#38;"_s), u"&lt;<&&#38;"_s);

    // A longer tag is not the tag, nothing is trimmed; a closing tag first, attributes and a missing
    // closing tag give nothing; nested, the value runs from the first opening to the first closing.
    const std::pair<const char *, const char *> tags[] = {{"<AB>x</AB><A> 7 </A>", " 7 "},
                                                          {"</A><A>x", "none"},
                                                          {"<A id=\"1\">x</A>", "none"},
                                                          {"<A>never closed", "none"},
                                                          {"<A>1<A>2</A>3</A>", "1<A>2"}};
    for (const auto &[body, value] : tags)
        EXPECT_EQ(sonos::tagValue(u"A"_s, QString::fromLatin1(body)).value_or(u"none"_s),
                  QString::fromLatin1(value));

    EXPECT_EQ(sonos::parseWholeNumber(u"-9223372036854775808"_s), std::numeric_limits<qint64>::min());

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
