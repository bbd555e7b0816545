#include "sonos/SonosXml.h"
#include "sonos/SonosTopology.h"
#include "sonos/SsdpReply.h"
#include "support/FakeSonosPlayer.h"

#include <gtest/gtest.h>

using namespace pealix;
using namespace Qt::StringLiterals;
using namespace pealix::sonos;
using test::FakeSonosPlayer;

static Speaker sonosSpeaker(const QString &uuid, const QString &host, const QString &name = {})
{
    return {"sonos:" + uuid, SpeakerKind::Sonos, name.isNull() ? "Room " + uuid : name, host, 1400, uuid};
}

TEST(SonosXml, EscapingTagSearchNumbersAndTheEnvelope)
{
    EXPECT_EQ(xmlEscape(u"\"x' > a<b&c &lt;"_s), u"&quot;x&apos; &gt; a&lt;b&amp;c &amp;lt;"_s);
    // "&amp;" goes last: an escaped entity comes back as the entity, not the character.
    EXPECT_EQ(xmlUnescape(u"&amp;lt;&lt;&amp;&#38;"_s), u"&lt;<&&#38;"_s);

    const std::tuple<const char *, const char *, const char *> tags[] = {
        {"CurrentURI", "<CurrentURIMetaData>&lt;DIDL&gt;</CurrentURIMetaData>", nullptr},
        {"Track", "<TrackURI>x</TrackURI><Track> 7 </Track>", " 7 "},
        {"Empty", "<Empty></Empty>", ""},
        {"A", "</A><A>x", nullptr},          // closing tag first
        {"A", "<A id=\"1\">x</A>", nullptr}, // attributes
        {"A", "<A>never closed", nullptr},
        {"A", "<A>1<A>2</A>3</A>", "1<A>2"}, // nested: first opening to first closing
    };
    for (const auto &[tag, body, value] : tags) {
        const auto found = tagValue(QString::fromLatin1(tag), QString::fromLatin1(body));
        EXPECT_EQ(found, value ? std::optional(QString::fromLatin1(value)) : std::nullopt) << body;
    }
    EXPECT_EQ(xmlValue(u"roomName"_s, u"<roomName>\n\t Den \r\n</roomName>"_s), u"Den"_s);

    for (const auto &[text, number] : {std::pair{"+7", 7LL},
                                       {"-9223372036854775808", std::numeric_limits<qint64>::min()}})
        EXPECT_EQ(parseWholeNumber(QString::fromLatin1(text)), number) << text;
    for (const char *bad : {"", " 7", "+-1", "1.0", "9223372036854775808", "\u0661\u0662"})
        EXPECT_EQ(parseWholeNumber(QString::fromUtf8(bad)), std::nullopt) << bad;

    EXPECT_EQ(soapEnvelope(u"SetVolume"_s, u"urn:x"_s, {{u"InstanceID"_s, u"0"_s}, {u"DesiredVolume"_s, u"a<b&c"_s}}),
              u"<?xml version=\"1.0\" encoding=\"utf-8\"?><s:Envelope "
              "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
              "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:SetVolume "
              "xmlns:u=\"urn:x\"><InstanceID>0</InstanceID><DesiredVolume>a&lt;b&amp;c</DesiredVolume>"
              "</u:SetVolume></s:Body></s:Envelope>"_s);
}

TEST(SonosTopology, BrokenHeadsLoseOnlyWhatTheyBreak)
{
    // Broken heads: an unterminated attribute loses its group; a member without
    // a usable name or address keeps the speaker's own.
    const SonosTopology broken = SonosTopology::parse(
        u"<ZoneGroup Coordinator=\"UNTERMINATED><ZoneGroupMember UUID=\"M1\" ZoneName=\"Lost\"/></ZoneGroup>"
        "<ZoneGroup Coordinator=\"C\"><ZoneGroupMember UUID=\"M2\" Location=\"not a url\" ZoneName=\"Den/>"
        "<ZoneGroupMember ZoneName=\"No uuid\"/></ZoneGroup>"_s);
    EXPECT_EQ(broken.coordinator, (QHash<QString, QString>{{u"M2"_s, u"C"_s}}));
    EXPECT_EQ(broken.coordinatorsFor({sonosSpeaker(u"M2"_s, u"127.0.0.8"_s)}),
              QList<Speaker>{sonosSpeaker(u"C"_s, u"127.0.0.8"_s, u"Room M2"_s)});
}

TEST(SsdpReply, LocationHeadersAndDescriptions)
{
    const QByteArray reply = "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age = 1800\r\n"
                             "LOCATION: http://127.0.0.2:1400/xml/device_description.xml\r\n"
                             "location:\t http://127.0.0.3:1400/a.xml \t\r\n"
                             "Location:http://127.0.0.4:8080/x/device_description\r\n"
                             " Location: http://127.0.0.5:1400/leading-space.xml\r\n"
                             "Location : http://127.0.0.6:1400/space-before-colon.xml\r\n"
                             "Location: http://127.0.0.7:80/printer.xml\r\n"
                             "Location: http://SoNoS-hub.local/desc.xml\r\n"
                             "X-Location: http://127.0.0.8:1400/other-header.xml\r\n\r\n";
    EXPECT_EQ(sonosLocations(reply), (QStringList{"http://127.0.0.2:1400/xml/device_description.xml",
                                                  "http://127.0.0.3:1400/a.xml", "http://127.0.0.4:8080/x/device_description",
                                                  "http://SoNoS-hub.local/desc.xml"}));
    EXPECT_FALSE(isSonosLocation(u"http://127.0.0.4/DEVICE_DESCRIPTION"_s));
    EXPECT_TRUE(sonosLocations("LOCATION: http://127.0.0.2:1400/\xff\r\n").isEmpty());

    const auto describe = [](const char *location, const QString &room, const QString &udn) {
        return speakerFromDescription(QString::fromLatin1(location),
                                      QString::fromUtf8(FakeSonosPlayer::deviceDescription(room, udn)));
    };
    EXPECT_EQ(describe("http://127.0.0.2:1400/d.xml", "\n  Kitchen \t", " uuid:RINCON_K1400 "),
              sonosSpeaker(u"RINCON_K1400"_s, u"127.0.0.2"_s, u"Kitchen"_s));
    EXPECT_EQ(describe("http://127.0.0.9/desc.xml", "Den", QString()),
              (Speaker{u"sonos:127.0.0.9"_s, SpeakerKind::Sonos, u"Den"_s, u"127.0.0.9"_s, 1400, QString()}));
    EXPECT_FALSE(describe("http://127.0.0.2:1400/d.xml", QString(), u"uuid:RINCON_K1400"_s));
    EXPECT_FALSE(speakerFromDescription(u"http://127.0.0.2:1400/d.xml"_s, u"<roomName>unterminated"_s));
}
