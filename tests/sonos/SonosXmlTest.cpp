#include "sonos/SonosXml.h"
#include "sonos/SonosTopology.h"
#include "sonos/SsdpReply.h"
#include "support/FakeSonosPlayer.h"

#include <gtest/gtest.h>

using namespace pealix;
using namespace pealix::sonos;

TEST(SonosXml, EscapingRoundTripsAndNeverDecodesTwice)
{
    EXPECT_EQ(xmlEscape(QStringLiteral("a<b&c")), QStringLiteral("a&lt;b&amp;c"));
    EXPECT_EQ(xmlEscape(QStringLiteral("\"x' > &lt;")), QStringLiteral("&quot;x&apos; &gt; &amp;lt;"));
    // "&amp;" goes last: an escaped entity comes back as the entity, not the character.
    EXPECT_EQ(xmlUnescape(QStringLiteral("&amp;lt;&lt;&amp;&#38;")), QStringLiteral("&lt;<&&#38;"));
    const QString tricky = QStringLiteral("http://h/a?b=1&c=<2>&d=\"'&amp;");
    EXPECT_EQ(xmlUnescape(xmlEscape(tricky)), tricky);
}

TEST(SonosXml, TagValueIsALiteralSearchForExactTags)
{
    const QString media = QStringLiteral("<CurrentURIMetaData>&lt;DIDL&gt;</CurrentURIMetaData>");
    EXPECT_EQ(tagValue(QStringLiteral("CurrentURI"), media), std::nullopt);
    EXPECT_EQ(tagValue(QStringLiteral("CurrentURIMetaData"), media), QStringLiteral("&lt;DIDL&gt;"));

    const QString position = QStringLiteral("<TrackURI>x</TrackURI><Track> 7 </Track>");
    EXPECT_EQ(tagValue(QStringLiteral("Track"), position), QStringLiteral(" 7 "));
    EXPECT_EQ(tagValue(QStringLiteral("Empty"), QStringLiteral("<Empty></Empty>")), QString());

    // Closing tag first, attributes, a case change, an unterminated element: no value.
    EXPECT_EQ(tagValue(QStringLiteral("A"), QStringLiteral("</A><A>x")), std::nullopt);
    EXPECT_EQ(tagValue(QStringLiteral("A"), QStringLiteral("<A id=\"1\">x</A>")), std::nullopt);
    EXPECT_EQ(tagValue(QStringLiteral("a"), QStringLiteral("<A>x</A>")), std::nullopt);
    EXPECT_EQ(tagValue(QStringLiteral("A"), QStringLiteral("<A>never closed")), std::nullopt);
    // Nested and repeated elements: first opening to first closing.
    EXPECT_EQ(tagValue(QStringLiteral("A"), QStringLiteral("<A>1<A>2</A>3</A>")), QStringLiteral("1<A>2"));
    EXPECT_EQ(xmlValue(QStringLiteral("roomName"), QStringLiteral("<roomName>\n\t Den \r\n</roomName>")),
              QStringLiteral("Den"));
}

TEST(SonosXml, WholeNumbersAreStrict)
{
    EXPECT_EQ(parseWholeNumber(QStringLiteral("12")), 12);
    EXPECT_EQ(parseWholeNumber(QStringLiteral("+7")), 7);
    EXPECT_EQ(parseWholeNumber(QStringLiteral("-5")), -5);
    EXPECT_EQ(parseWholeNumber(QStringLiteral("007")), 7);
    EXPECT_EQ(parseWholeNumber(QStringLiteral("9223372036854775807")), std::numeric_limits<qint64>::max());
    EXPECT_EQ(parseWholeNumber(QStringLiteral("-9223372036854775808")), std::numeric_limits<qint64>::min());
    for (const char *bad : {"", " 7", "7 ", "+", "-", "+-1", "1.0", "1e3", "0x10", "9223372036854775808",
                            "-9223372036854775809", "99999999999999999999"})
        EXPECT_EQ(parseWholeNumber(QString::fromLatin1(bad)), std::nullopt) << bad;
    EXPECT_EQ(parseWholeNumber(QStringLiteral("\u0661\u0662")), std::nullopt); // Arabic-Indic digits
}

TEST(SonosXml, EnvelopeIsExactOnTheWire)
{
    const QString body = soapEnvelope(QStringLiteral("SetVolume"),
                                      QStringLiteral("urn:schemas-upnp-org:service:RenderingControl:1"),
                                      {{QStringLiteral("InstanceID"), QStringLiteral("0")},
                                       {QStringLiteral("Channel"), QStringLiteral("Master")},
                                       {QStringLiteral("DesiredVolume"), QStringLiteral("a<b&c")}});
    EXPECT_EQ(body,
              QStringLiteral(
                  "<?xml version=\"1.0\" encoding=\"utf-8\"?><s:Envelope "
                  "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                  "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:SetVolume "
                  "xmlns:u=\"urn:schemas-upnp-org:service:RenderingControl:1\"><InstanceID>0</InstanceID>"
                  "<Channel>Master</Channel><DesiredVolume>a&lt;b&amp;c</DesiredVolume></u:SetVolume>"
                  "</s:Body></s:Envelope>"));
    EXPECT_TRUE(
        soapEnvelope(QStringLiteral("GetZoneGroupState"), QStringLiteral("urn:x"), {})
            .contains(QLatin1String("<u:GetZoneGroupState xmlns:u=\"urn:x\"></u:GetZoneGroupState>")));
}

namespace {

Speaker sonosSpeaker(const QString &uuid, const QString &host,
                     std::optional<QString> sonosUuid = std::nullopt)
{
    return Speaker{QStringLiteral("sonos:") + uuid,
                   SpeakerKind::Sonos,
                   QStringLiteral("Room ") + uuid,
                   host,
                   1400,
                   sonosUuid ? sonosUuid : std::optional<QString>(uuid)};
}

} // namespace

TEST(SonosTopology, MembersBecomeTheirCoordinatorsOnce)
{
    const SonosTopology topology = SonosTopology::parse(
        test::FakeSonosPlayer::twoGroupState(QStringLiteral("127.0.0.51"), QStringLiteral("127.0.0.53")));
    // Satellites are children of a member and are not read; invisible members are.
    EXPECT_FALSE(topology.coordinator.contains(QStringLiteral("RINCON_SL1400")));
    EXPECT_EQ(topology.coordinator.value(QStringLiteral("RINCON_SUB1400")), QStringLiteral("RINCON_C1400"));

    Speaker noUuid = sonosSpeaker(QStringLiteral("X"), QStringLiteral("127.0.0.70"));
    noUuid.sonosUUID.reset();
    const QList<Speaker> input{sonosSpeaker(QStringLiteral("RINCON_B1400"), QStringLiteral("127.0.0.62")),
                               sonosSpeaker(QStringLiteral("RINCON_UNKNOWN"), QStringLiteral("127.0.0.64")),
                               sonosSpeaker(QStringLiteral("RINCON_A1400"), QStringLiteral("127.0.0.99")),
                               noUuid,
                               sonosSpeaker(QStringLiteral("RINCON_SUB1400"), QStringLiteral("127.0.0.63"))};
    const QList<Speaker> result = topology.coordinatorsFor(input);
    ASSERT_EQ(result.size(), 4);
    EXPECT_EQ(result[0], (Speaker{QStringLiteral("sonos:RINCON_A1400"), SpeakerKind::Sonos,
                                  QStringLiteral("Living Room"), QStringLiteral("127.0.0.51"), 1400,
                                  QStringLiteral("RINCON_A1400")}));
    EXPECT_EQ(result[1], input[1]);
    EXPECT_EQ(result[2], input[3]);
    EXPECT_EQ(result[3].id, QStringLiteral("sonos:RINCON_C1400"));
    EXPECT_EQ(result[3].name, QStringLiteral("Office"));
    EXPECT_EQ(result[3].host, QStringLiteral("127.0.0.53"));
}

TEST(SonosTopology, BrokenGroupsAndMembersAreSkipped)
{
    const SonosTopology topology = SonosTopology::parse(QStringLiteral(
        "<ZoneGroup Coordinator=\"UNTERMINATED><ZoneGroupMember UUID=\"M1\" ZoneName=\"Lost\"/></ZoneGroup>"
        "<ZoneGroup Coordinator=\"C\"><ZoneGroupMember UUID=\"M2\" Location=\"not a url\" ZoneName=\"Den/>"
        "<ZoneGroupMember ZoneName=\"No uuid\"/></ZoneGroup>"));
    EXPECT_FALSE(topology.coordinator.contains(QStringLiteral("M1")));
    EXPECT_EQ(topology.coordinator.value(QStringLiteral("M2")), QStringLiteral("C"));
    EXPECT_FALSE(topology.host.contains(QStringLiteral("M2")));
    EXPECT_FALSE(topology.zoneName.contains(QStringLiteral("M2")));
    EXPECT_EQ(topology.coordinator.size(), 1);
    // Without a name or host for the coordinator, the speaker's own ones stay.
    const Speaker member = sonosSpeaker(QStringLiteral("M2"), QStringLiteral("127.0.0.8"));
    const Speaker chosen = topology.coordinatorsFor({member}).value(0);
    EXPECT_EQ(chosen.id, QStringLiteral("sonos:C"));
    EXPECT_EQ(chosen.name, member.name);
    EXPECT_EQ(chosen.host, member.host);
}

TEST(SsdpReply, SearchDatagramAndLocationHeaders)
{
    EXPECT_EQ(kZonePlayerSearch.size(), 126);
    EXPECT_TRUE(kZonePlayerSearch.startsWith("M-SEARCH * HTTP/1.1\r\n"));
    EXPECT_TRUE(kZonePlayerSearch.endsWith("ZonePlayer:1\r\n\r\n"));

    const QByteArray reply = "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age = 1800\r\n"
                             "LOCATION: http://127.0.0.2:1400/xml/device_description.xml\r\n"
                             "location:\t http://127.0.0.3:1400/a.xml \t\r\n"
                             "Location:http://127.0.0.4:8080/x/device_description\r\n"
                             " Location: http://127.0.0.5:1400/leading-space.xml\r\n"
                             "Location : http://127.0.0.6:1400/space-before-colon.xml\r\n"
                             "Location: http://127.0.0.7:80/printer.xml\r\n"
                             "Location: http://SoNoS-hub.local/desc.xml\r\n"
                             "X-Location: http://127.0.0.8:1400/other-header.xml\r\n\r\n";
    EXPECT_EQ(sonosLocations(reply),
              (QStringList{QStringLiteral("http://127.0.0.2:1400/xml/device_description.xml"),
                           QStringLiteral("http://127.0.0.3:1400/a.xml"),
                           QStringLiteral("http://127.0.0.4:8080/x/device_description"),
                           QStringLiteral("http://SoNoS-hub.local/desc.xml")}));
    EXPECT_FALSE(isSonosLocation(QStringLiteral("http://127.0.0.4/DEVICE_DESCRIPTION")));
    EXPECT_TRUE(sonosLocations("LOCATION: http://127.0.0.2:1400/\xff\r\n").isEmpty());
}

TEST(SsdpReply, DescriptionsBecomeSpeakers)
{
    const QString location = QStringLiteral("http://127.0.0.2:1400/xml/device_description.xml");
    const auto full = speakerFromDescription(
        location, QString::fromUtf8(test::FakeSonosPlayer::deviceDescription(
                      QStringLiteral("\n  Kitchen \t"), QStringLiteral(" uuid:RINCON_K1400 "))));
    ASSERT_TRUE(full);
    EXPECT_EQ(*full,
              (Speaker{QStringLiteral("sonos:RINCON_K1400"), SpeakerKind::Sonos, QStringLiteral("Kitchen"),
                       QStringLiteral("127.0.0.2"), 1400, QStringLiteral("RINCON_K1400")}));

    const auto noUdn = speakerFromDescription(
        QStringLiteral("http://127.0.0.9/desc.xml"),
        QString::fromUtf8(test::FakeSonosPlayer::deviceDescription(QStringLiteral("Den"), QString())));
    ASSERT_TRUE(noUdn);
    EXPECT_EQ(noUdn->id, QStringLiteral("sonos:127.0.0.9"));
    EXPECT_EQ(noUdn->port, 1400);
    EXPECT_EQ(noUdn->sonosUUID, QString());

    EXPECT_FALSE(speakerFromDescription(location, QString::fromUtf8(test::FakeSonosPlayer::deviceDescription(
                                                      QString(), QStringLiteral("uuid:RINCON_K1400")))));
    EXPECT_FALSE(speakerFromDescription(location, QStringLiteral("<roomName>unterminated")));
}
