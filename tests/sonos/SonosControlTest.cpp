#include "sonos/SonosControl.h"
#include "sonos/SonosDiscovery.h"
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
    void SetUp() override { ASSERT_TRUE(player->isListening()); }

    QString lastArgument(const QString &action, const QString &name) const
    {
        for (auto it = player->requests().crbegin(); it != player->requests().crend(); ++it)
            if (it->action == action)
                return it->argument(name);
        return u"<no %1>"_s.arg(action);
    }

    std::unique_ptr<FakeSonosPlayer> player = std::make_unique<FakeSonosPlayer>(QHostAddress(u"127.0.0.2"_s));
    Speaker speaker{u"sonos:RINCON_A1400"_s, SpeakerKind::Sonos, u"Living Room"_s,
                    player->host(),          player->port(),     u"RINCON_A1400"_s};
    // Short enough that each hang costs well under a second.
    SonosControl control{sonos::HttpLimits{std::chrono::milliseconds(400), std::chrono::milliseconds(2000)}};
};

} // namespace

TEST_F(SonosControlTest, FullAnnouncementPutsThePlayerBackOnItsQueueTrack)
{
    player->state.uri = u"x-rincon-queue:RINCON_A1400#0"_s;
    player->state.metadata.clear();
    const auto snapshot = QCoro::waitFor(control.snapshot(speaker));
    ASSERT_TRUE(snapshot);
    QCoro::waitFor(control.setVolume(35, speaker));
    QCoro::waitFor(control.play(u"http://127.0.0.1:40000/clip.m4a?a=1&b=2"_s, speaker));
    QCoro::waitFor(control.restore(*snapshot, speaker));

    EXPECT_EQ(player->actions(), (QStringList{"GetMediaInfo", "GetPositionInfo", "GetTransportInfo",
                                              "GetVolume", "SetVolume", "SetAVTransportURI", "Play",
                                              "SetAVTransportURI", "SetVolume", "Seek", "Seek", "Play"}));
    const auto &requests = player->requests();
    const std::tuple<int, const char *, const char *> sent[] = {
        {4, "DesiredVolume", "35"}, {5, "CurrentURI", "http://127.0.0.1:40000/clip.m4a?a=1&amp;b=2"},
        {6, "Speed", "1"},          {7, "CurrentURI", "x-rincon-queue:RINCON_A1400#0"},
        {8, "DesiredVolume", "23"}, {9, "Unit", "TRACK_NR"},
        {9, "Target", "5"},         {10, "Unit", "REL_TIME"},
        {10, "Target", "0:02:17"},
    };
    for (const auto &[index, name, value] : sent)
        EXPECT_EQ(requests.value(index).argument(QString::fromLatin1(name)), QString::fromLatin1(value))
            << index;
    EXPECT_TRUE(requests.value(5).body.contains("<CurrentURIMetaData></CurrentURIMetaData>"_L1));

    for (const auto &request : requests) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.contentType, "text/xml; charset=\"utf-8\"");
        EXPECT_EQ(request.argument(u"InstanceID"_s), u"0"_s);
        const bool rendering = request.action.endsWith("Volume"_L1);
        EXPECT_EQ(request.path, rendering ? "/MediaRenderer/RenderingControl/Control"
                                          : "/MediaRenderer/AVTransport/Control");
        const QString service = rendering ? control.rendering : control.avTransport;
        EXPECT_EQ(request.soapAction, ('"' + service + '#' + request.action + '"').toUtf8());
        EXPECT_TRUE(request.body.contains(u"<u:%1 xmlns:u=\"%2\">"_s.arg(request.action, service)));
    }
}

TEST_F(SonosControlTest, RestoreSendsBackExactlyWhatThePlayerReported)
{
    player->state.transportState = u"PAUSED_PLAYBACK"_s;
    const auto snapshot = QCoro::waitFor(control.snapshot(speaker));
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->uri, player->state.uri); // stored with its entities
    QCoro::waitFor(control.restore(*snapshot, speaker));

    // On the wire once-escaped, so an XML reader on the player sees a single "&".
    EXPECT_EQ(lastArgument(u"SetAVTransportURI"_s, u"CurrentURI"_s),
              u"x-sonosapi-stream:s24940?sid=254&amp;flags=8224&amp;sn=0"_s);
    EXPECT_EQ(lastArgument(u"SetAVTransportURI"_s, u"CurrentURIMetaData"_s), player->state.metadata);
    // A radio stream has no track to return to, and a paused player stays paused.
    EXPECT_EQ(player->actions().mid(4), (QStringList{"SetAVTransportURI", "SetVolume", "Seek"}));
    EXPECT_EQ(lastArgument(u"Seek"_s, u"Unit"_s), u"REL_TIME"_s);
}

TEST_F(SonosControlTest, RestoreVolumeOnlyFromAWholeNumberAndNothingWithoutAUri)
{
    const std::pair<const char *, const char *> cases[] = {{"12", "12"},   {"+7", "7"},     {"150", "100"},
                                                           {"-5", "0"},    {" 7", nullptr}, {"", nullptr},
                                                           {"7%", nullptr}};
    for (const auto &[stored, sent] : cases) {
        const qsizetype before = player->requests().size();
        QCoro::waitFor(control.restore({u"x-file-cifs://nas/a.mp3"_s, QString(), u"1"_s, u"0:00:09"_s,
                                        u"STOPPED"_s, QString::fromLatin1(stored)},
                                       speaker));
        QStringList expected{"SetAVTransportURI", "Seek"};
        if (sent)
            expected.insert(1, u"SetVolume"_s);
        EXPECT_EQ(player->actions().mid(before), expected) << stored;
        if (sent) {
            EXPECT_EQ(lastArgument(u"SetVolume"_s, u"DesiredVolume"_s), sent);
        }
    }
    const qsizetype before = player->requests().size();
    QCoro::waitFor(
        control.restore({QString(), QString(), u"1"_s, u"0:00:09"_s, u"PLAYING"_s, u"12"_s}, speaker));
    EXPECT_EQ(player->requests().size(), before);
}

TEST_F(SonosControlTest, SnapshotFallsBackToDefaultsForMissingAnswers)
{
    player->setResponse(u"GetMediaInfo"_s, u"<CurrentURIMetaData>only metadata</CurrentURIMetaData>"_s);
    player->setResponse(u"GetPositionInfo"_s, u"<TrackURI>x</TrackURI>"_s);
    player->setBehaviour(u"GetTransportInfo"_s, Behaviour::Hang);
    player->setBehaviour(u"GetVolume"_s, Behaviour::Fault);
    EXPECT_EQ(QCoro::waitFor(control.snapshot(speaker)),
              (SonosControl::Snapshot{QString(), u"only metadata"_s, u"1"_s, u"0:00:00"_s, u"STOPPED"_s,
                                      QString()}));
    EXPECT_EQ(player->requests().size(), 4);
}

TEST_F(SonosControlTest, BadAnswersAreNoAnswerAndLaterStepsStillRun)
{
    const QString media = u"GetMediaInfo"_s;
    for (const Behaviour behaviour :
         {Behaviour::Fault, Behaviour::Hang, Behaviour::Garbage, Behaviour::Huge}) {
        player->setBehaviour(media, behaviour);
        const qsizetype before = player->requests().size();
        EXPECT_FALSE(QCoro::waitFor(control.snapshot(speaker))) << int(behaviour);
        // Without the source nothing more is asked. (Qt itself resends a request
        // whose connection closed before a status line, so garbage may come twice.)
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
    EXPECT_EQ(replaced->uri, u"a\uFFFD\uFFFDb"_s);
    EXPECT_FALSE(QCoro::waitFor(control.soap(u"GetVolume"_s, control.rendering,
                                             u"/MediaRenderer/RenderingControl/Control"_s, u"bad host name"_s,
                                             speaker.port, {})));

    // A hanging step does not stop the next one.
    const qsizetype before = player->requests().size();
    player->setBehaviour(u"SetAVTransportURI"_s, Behaviour::Hang);
    QCoro::waitFor(control.play(u"http://127.0.0.1:1/clip.m4a"_s, speaker));
    EXPECT_EQ(player->actions().mid(before), (QStringList{"SetAVTransportURI", "Play"}));

    // A player that is gone entirely: every request fails fast and quietly.
    player.reset();
    EXPECT_FALSE(QCoro::waitFor(control.snapshot(speaker)));
    QCoro::waitFor(control.setVolume(150, speaker));
}

TEST_F(SonosControlTest, CoordinatorsComeFromTheFirstSpeakersTopology)
{
    player->zoneGroupState = FakeSonosPlayer::twoGroupState(u"127.0.0.51"_s, u"127.0.0.53"_s);
    Speaker kitchen = speaker;
    kitchen.id = u"sonos:RINCON_B1400"_s;
    kitchen.sonosUUID = u"RINCON_B1400"_s;
    const QList<Speaker> input{kitchen, speaker};
    Speaker expected = speaker;
    expected.host = u"127.0.0.51"_s;
    EXPECT_EQ(QCoro::waitFor(control.coordinators(input)), QList<Speaker>{expected});
    EXPECT_EQ(player->actions(), QStringList{"GetZoneGroupState"});
    EXPECT_EQ(player->requests().value(0).path, u"/ZoneGroupTopology/Control"_s);

    player->zoneGroupState = u"<Nothing/>"_s;
    EXPECT_EQ(QCoro::waitFor(control.coordinators(input)), input);
    player->setBehaviour(u"GetZoneGroupState"_s, Behaviour::Fault);
    EXPECT_EQ(QCoro::waitFor(control.coordinators(input)), input);
    const qsizetype before = player->requests().size();
    EXPECT_TRUE(QCoro::waitFor(control.coordinators({})).isEmpty());
    EXPECT_EQ(player->requests().size(), before);
}

TEST(SonosDescriptionFetch, ReadsDescriptionsAndGivesUpOnBadOnes)
{
    FakeSonosPlayer server(QHostAddress(u"127.0.0.3"_s));
    server.setDescription(u"/xml/device_description.xml"_s,
                          FakeSonosPlayer::deviceDescription(u" Bath "_s, u"uuid:RINCON_X"_s));
    server.setDescription(u"/noroom.xml"_s,
                          FakeSonosPlayer::deviceDescription(QString(), u"uuid:RINCON_Y"_s));
    server.setDescription(u"/huge.xml"_s, QByteArray(2 * 1024 * 1024, 'x') + "<roomName>Big</roomName>");
    server.setDescription(u"/hang.xml"_s, QByteArray());
    SonosDiscovery discovery(SonosDiscovery::Options{std::chrono::milliseconds(500)});
    const QString base = u"http://127.0.0.3:%1"_s.arg(server.port());

    EXPECT_EQ(QCoro::waitFor(discovery.fetchSpeaker(base + u"/xml/device_description.xml"_s)),
              (Speaker{u"sonos:RINCON_X"_s, SpeakerKind::Sonos, u"Bath"_s, u"127.0.0.3"_s, server.port(),
                       u"RINCON_X"_s}));
    for (const char *path : {"/noroom.xml", "/huge.xml", "/hang.xml", "/missing.xml"})
        EXPECT_FALSE(QCoro::waitFor(discovery.fetchSpeaker(base + QLatin1String(path)))) << path;
    EXPECT_FALSE(QCoro::waitFor(discovery.fetchSpeaker(u"file:///etc/hostname#sonos"_s)));
    EXPECT_FALSE(QCoro::waitFor(discovery.fetchSpeaker(u"http://[::1:1400/"_s)));
}
