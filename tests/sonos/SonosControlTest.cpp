#include "sonos/SonosControl.h"
#include "sonos/SonosDiscovery.h"
#include "support/FakeSonosPlayer.h"

#include <QCoro/QCoroTask>
#include <gtest/gtest.h>

#include <memory>

using namespace pealix;
using test::FakeSonosPlayer;
using Behaviour = FakeSonosPlayer::Behaviour;

namespace {

// Short enough that the hang cases cost well under a second each.
sonos::HttpLimits quickLimits()
{
    sonos::HttpLimits limits;
    limits.idleTimeout = std::chrono::milliseconds(400);
    limits.totalTimeout = std::chrono::milliseconds(2000);
    return limits;
}

class SonosControlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        player = std::make_unique<FakeSonosPlayer>(QHostAddress(QStringLiteral("127.0.0.2")));
        ASSERT_TRUE(player->isListening());
        speaker = Speaker{QStringLiteral("sonos:RINCON_A1400"),
                          SpeakerKind::Sonos,
                          QStringLiteral("Living Room"),
                          player->host(),
                          player->port(),
                          QStringLiteral("RINCON_A1400")};
    }

    const FakeSonosPlayer::Request &last(const QString &action) const
    {
        const auto &requests = player->requests();
        for (auto it = requests.crbegin(); it != requests.crend(); ++it)
            if (it->action == action)
                return *it;
        static const FakeSonosPlayer::Request none;
        return none;
    }

    std::unique_ptr<FakeSonosPlayer> player;
    Speaker speaker;
    SonosControl control{quickLimits()};
};

} // namespace

TEST_F(SonosControlTest, FullAnnouncementPutsThePlayerBackOnItsQueueTrack)
{
    player->state.uri = QStringLiteral("x-rincon-queue:RINCON_A1400#0");
    player->state.metadata.clear();
    const auto snapshot = QCoro::waitFor(control.snapshot(speaker));
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->track, QStringLiteral("5"));
    EXPECT_EQ(snapshot->relTime, QStringLiteral("0:02:17"));
    QCoro::waitFor(control.setVolume(35, speaker));
    QCoro::waitFor(control.play(QStringLiteral("http://127.0.0.1:40000/clip.m4a?a=1&b=2"), speaker));
    QCoro::waitFor(control.restore(*snapshot, speaker));

    EXPECT_EQ(player->actions(), (QStringList{"GetMediaInfo", "GetPositionInfo", "GetTransportInfo",
                                              "GetVolume", "SetVolume", "SetAVTransportURI", "Play",
                                              "SetAVTransportURI", "SetVolume", "Seek", "Seek", "Play"}));
    const auto &requests = player->requests();
    EXPECT_EQ(requests[4].argument(QStringLiteral("DesiredVolume")), QStringLiteral("35"));
    EXPECT_EQ(requests[5].argument(QStringLiteral("CurrentURI")),
              QStringLiteral("http://127.0.0.1:40000/clip.m4a?a=1&amp;b=2"));
    EXPECT_TRUE(requests[5].body.contains(QLatin1String("<CurrentURIMetaData></CurrentURIMetaData>")));
    EXPECT_EQ(requests[6].argument(QStringLiteral("Speed")), QStringLiteral("1"));
    EXPECT_EQ(requests[7].argument(QStringLiteral("CurrentURI")),
              QStringLiteral("x-rincon-queue:RINCON_A1400#0"));
    EXPECT_EQ(requests[8].argument(QStringLiteral("DesiredVolume")), QStringLiteral("23"));
    EXPECT_EQ(requests[9].argument(QStringLiteral("Unit")), QStringLiteral("TRACK_NR"));
    EXPECT_EQ(requests[9].argument(QStringLiteral("Target")), QStringLiteral("5"));
    EXPECT_EQ(requests[10].argument(QStringLiteral("Unit")), QStringLiteral("REL_TIME"));
    EXPECT_EQ(requests[10].argument(QStringLiteral("Target")), QStringLiteral("0:02:17"));

    for (const auto &request : requests) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.contentType, "text/xml; charset=\"utf-8\"");
        EXPECT_EQ(request.argument(QStringLiteral("InstanceID")), QStringLiteral("0"));
        const bool rendering = request.action.endsWith(QLatin1String("Volume"));
        EXPECT_EQ(request.path, rendering ? "/MediaRenderer/RenderingControl/Control"
                                          : "/MediaRenderer/AVTransport/Control");
        const QString service = rendering ? control.rendering : control.avTransport;
        EXPECT_EQ(request.soapAction, ('"' + service + '#' + request.action + '"').toUtf8());
        EXPECT_TRUE(
            request.body.contains(QStringLiteral("<u:%1 xmlns:u=\"%2\">").arg(request.action, service)));
    }
}

TEST_F(SonosControlTest, RestoreSendsBackExactlyWhatThePlayerReported)
{
    player->state.transportState = QStringLiteral("PAUSED_PLAYBACK");
    const auto snapshot = QCoro::waitFor(control.snapshot(speaker));
    ASSERT_TRUE(snapshot);
    // Stored as the answer carried it: entities still in place.
    EXPECT_EQ(snapshot->uri, player->state.uri);
    EXPECT_EQ(snapshot->metadata, player->state.metadata);
    QCoro::waitFor(control.restore(*snapshot, speaker));

    const auto &source = last(QStringLiteral("SetAVTransportURI"));
    // On the wire once-escaped, so an XML reader on the player sees a single "&".
    EXPECT_EQ(source.argument(QStringLiteral("CurrentURI")),
              QStringLiteral("x-sonosapi-stream:s24940?sid=254&amp;flags=8224&amp;sn=0"));
    EXPECT_EQ(source.argument(QStringLiteral("CurrentURIMetaData")), player->state.metadata);
    // A radio stream has no track to return to, and a paused player stays paused.
    EXPECT_EQ(player->actions().mid(4), (QStringList{"SetAVTransportURI", "SetVolume", "Seek"}));
    EXPECT_EQ(last(QStringLiteral("Seek")).argument(QStringLiteral("Unit")), QStringLiteral("REL_TIME"));
}

TEST_F(SonosControlTest, RestoreVolumeOnlyFromAWholeNumber)
{
    const SonosControl::Snapshot base{QStringLiteral("x-file-cifs://nas/a.mp3"),
                                      QString(),
                                      QStringLiteral("1"),
                                      QStringLiteral("0:00:09"),
                                      QStringLiteral("STOPPED"),
                                      QString()};
    const std::pair<const char *, const char *> cases[] = {{"12", "12"},   {"+7", "7"},     {"150", "100"},
                                                           {"-5", "0"},    {" 7", nullptr}, {"", nullptr},
                                                           {"7%", nullptr}};
    for (const auto &[stored, sent] : cases) {
        SonosControl::Snapshot snapshot = base;
        snapshot.volume = QString::fromLatin1(stored);
        const qsizetype before = player->requests().size();
        QCoro::waitFor(control.restore(snapshot, speaker));
        QStringList expected{"SetAVTransportURI", "Seek"};
        if (sent)
            expected.insert(1, QStringLiteral("SetVolume"));
        EXPECT_EQ(player->actions().mid(before), expected) << stored;
        if (sent) {
            EXPECT_EQ(last(QStringLiteral("SetVolume")).argument(QStringLiteral("DesiredVolume")),
                      QString::fromLatin1(sent));
        }
    }
    SonosControl::Snapshot empty = base;
    empty.uri.clear();
    empty.transportState = QStringLiteral("PLAYING");
    const qsizetype before = player->requests().size();
    QCoro::waitFor(control.restore(empty, speaker));
    EXPECT_EQ(player->requests().size(), before);
}

TEST_F(SonosControlTest, SnapshotFallsBackToDefaultsForMissingAnswers)
{
    player->setResponse(QStringLiteral("GetMediaInfo"),
                        QStringLiteral("<CurrentURIMetaData>only metadata</CurrentURIMetaData>"));
    player->setResponse(QStringLiteral("GetPositionInfo"), QStringLiteral("<TrackURI>x</TrackURI>"));
    player->setBehaviour(QStringLiteral("GetTransportInfo"), Behaviour::Hang);
    player->setBehaviour(QStringLiteral("GetVolume"), Behaviour::Fault);
    const auto snapshot = QCoro::waitFor(control.snapshot(speaker));
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(*snapshot,
              (SonosControl::Snapshot{QString(), QStringLiteral("only metadata"), QStringLiteral("1"),
                                      QStringLiteral("0:00:00"), QStringLiteral("STOPPED"), QString()}));
    EXPECT_EQ(player->requests().size(), 4);
}

TEST_F(SonosControlTest, BadAnswersAreNoAnswer)
{
    const QString media = QStringLiteral("GetMediaInfo");
    for (const Behaviour behaviour :
         {Behaviour::Fault, Behaviour::Hang, Behaviour::Garbage, Behaviour::Huge}) {
        player->setBehaviour(media, behaviour);
        const qsizetype before = player->requests().size();
        EXPECT_FALSE(QCoro::waitFor(control.snapshot(speaker))) << int(behaviour);
        // Without the source there is nothing to restore, so nothing more is
        // asked. (Qt's client itself resends a request whose connection
        // closed before a status line, so garbage may arrive more than once.)
        const QStringList asked = player->actions().mid(before);
        EXPECT_FALSE(asked.isEmpty());
        EXPECT_EQ(asked.count(media), asked.size()) << int(behaviour);
    }
    // Invalid UTF-8 in a 200 answer is replaced, not fatal.
    player->setBehaviour(media, Behaviour::Answer);
    player->setResponse(media, QString::fromUtf8("<CurrentURI>a\xff\xfe"
                                                 "b</CurrentURI>"));
    const auto replaced = QCoro::waitFor(control.snapshot(speaker));
    ASSERT_TRUE(replaced);
    EXPECT_EQ(replaced->uri, QStringLiteral("a\uFFFD\uFFFDb"));

    EXPECT_FALSE(QCoro::waitFor(control.soap(QStringLiteral("GetVolume"), control.rendering,
                                             QStringLiteral("/MediaRenderer/RenderingControl/Control"),
                                             QStringLiteral("bad host name"), speaker.port, {})));
}

TEST_F(SonosControlTest, CommandsCarryOnPastAFailedStep)
{
    player->setBehaviour(QStringLiteral("SetAVTransportURI"), Behaviour::Hang);
    QCoro::waitFor(control.play(QStringLiteral("http://127.0.0.1:1/clip.m4a"), speaker));
    EXPECT_EQ(player->actions(), (QStringList{"SetAVTransportURI", "Play"}));

    // A player that is gone entirely: every request fails fast and quietly.
    const quint16 port = player->port();
    player.reset();
    Speaker gone = speaker;
    gone.port = port;
    EXPECT_FALSE(QCoro::waitFor(control.snapshot(gone)));
    QCoro::waitFor(control.setVolume(150, gone));
}

TEST_F(SonosControlTest, CoordinatorsComeFromTheFirstSpeakersTopology)
{
    player->zoneGroupState =
        FakeSonosPlayer::twoGroupState(QStringLiteral("127.0.0.51"), QStringLiteral("127.0.0.53"));
    Speaker kitchen = speaker;
    kitchen.id = QStringLiteral("sonos:RINCON_B1400");
    kitchen.sonosUUID = QStringLiteral("RINCON_B1400");
    const QList<Speaker> input{kitchen, speaker};
    const QList<Speaker> result = QCoro::waitFor(control.coordinators(input));
    ASSERT_EQ(result.size(), 1);
    EXPECT_EQ(result[0].id, QStringLiteral("sonos:RINCON_A1400"));
    EXPECT_EQ(result[0].host, QStringLiteral("127.0.0.51"));
    EXPECT_EQ(result[0].port, speaker.port);
    EXPECT_EQ(player->actions(), QStringList{"GetZoneGroupState"});
    EXPECT_EQ(player->requests()[0].path, QStringLiteral("/ZoneGroupTopology/Control"));
    EXPECT_TRUE(player->requests()[0].body.contains(QLatin1String("<u:GetZoneGroupState xmlns:u=\"") +
                                                    control.topology +
                                                    QLatin1String("\"></u:GetZoneGroupState>")));

    player->zoneGroupState = QStringLiteral("<Nothing/>");
    EXPECT_EQ(QCoro::waitFor(control.coordinators(input)), input);
    player->setBehaviour(QStringLiteral("GetZoneGroupState"), Behaviour::Fault);
    EXPECT_EQ(QCoro::waitFor(control.coordinators(input)), input);
    const qsizetype before = player->requests().size();
    EXPECT_TRUE(QCoro::waitFor(control.coordinators({})).isEmpty());
    EXPECT_EQ(player->requests().size(), before);
}

TEST(SonosDescriptionFetch, ReadsDescriptionsAndGivesUpOnBadOnes)
{
    FakeSonosPlayer server(QHostAddress(QStringLiteral("127.0.0.3")));
    server.setDescription(
        QStringLiteral("/xml/device_description.xml"),
        FakeSonosPlayer::deviceDescription(QStringLiteral(" Bath "), QStringLiteral("uuid:RINCON_X")));
    server.setDescription(QStringLiteral("/noroom.xml"),
                          FakeSonosPlayer::deviceDescription(QString(), QStringLiteral("uuid:RINCON_Y")));
    server.setDescription(QStringLiteral("/huge.xml"),
                          QByteArray(2 * 1024 * 1024, 'x') + "<roomName>Big</roomName>");
    server.setHangingPath(QStringLiteral("/hang.xml"));
    SonosDiscovery::Options options;
    options.descriptionTimeout = std::chrono::milliseconds(500);
    SonosDiscovery discovery(options);
    const QString base = QStringLiteral("http://127.0.0.3:%1").arg(server.port());

    const auto bath =
        QCoro::waitFor(discovery.fetchSpeaker(base + QStringLiteral("/xml/device_description.xml")));
    ASSERT_TRUE(bath);
    EXPECT_EQ(*bath, (Speaker{QStringLiteral("sonos:RINCON_X"), SpeakerKind::Sonos, QStringLiteral("Bath"),
                              QStringLiteral("127.0.0.3"), server.port(), QStringLiteral("RINCON_X")}));
    for (const char *path : {"/noroom.xml", "/huge.xml", "/hang.xml", "/missing.xml"})
        EXPECT_FALSE(QCoro::waitFor(discovery.fetchSpeaker(base + QLatin1String(path)))) << path;
    EXPECT_FALSE(QCoro::waitFor(discovery.fetchSpeaker(QStringLiteral("file:///etc/hostname#sonos"))));
    EXPECT_FALSE(QCoro::waitFor(discovery.fetchSpeaker(QStringLiteral("http://[::1:1400/"))));
}
