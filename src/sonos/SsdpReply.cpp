#include "sonos/SsdpReply.h"

#include "sonos/SonosXml.h"

#include <QStringDecoder>
#include <QUrl>

namespace pealix::sonos {

const QByteArray kZonePlayerSearch = QByteArrayLiteral("M-SEARCH * HTTP/1.1\r\n"
                                                       "HOST: 239.255.255.250:1900\r\n"
                                                       "MAN: \"ssdp:discover\"\r\n"
                                                       "MX: 1\r\n"
                                                       "ST: urn:schemas-upnp-org:device:ZonePlayer:1\r\n"
                                                       "\r\n");

namespace {

const QString kLocationHeader = QStringLiteral("location:");

// Header names compare in ASCII only, so no Unicode case mapping can turn
// some other line into a location.
bool startsWithLocationHeader(const QString &line)
{
    if (line.size() < kLocationHeader.size())
        return false;
    for (qsizetype i = 0; i < kLocationHeader.size(); ++i) {
        char16_t c = line[i].unicode();
        if (c >= u'A' && c <= u'Z')
            c = c - u'A' + u'a';
        if (c != kLocationHeader[i].unicode())
            return false;
    }
    return true;
}

QString trimSpacesAndTabs(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

bool isSonosLocation(const QString &location)
{
    return location.contains(QLatin1String(":1400")) || location.toLower().contains(QLatin1String("sonos")) ||
           location.contains(QLatin1String("device_description"));
}

QStringList sonosLocations(const QByteArray &datagram)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(datagram);
    if (decoder.hasError())
        return {};
    QStringList locations;
    for (const QString &line : text.split(QStringLiteral("\r\n"))) {
        if (!startsWithLocationHeader(line))
            continue;
        const QString value = trimSpacesAndTabs(line.mid(kLocationHeader.size()));
        if (isSonosLocation(value))
            locations.append(value);
    }
    return locations;
}

std::optional<Speaker> speakerFromDescription(const QString &location, const QString &description)
{
    const QUrl url(location);
    const auto roomName = xmlValue(QStringLiteral("roomName"), description);
    if (!url.isValid() || !roomName)
        return std::nullopt;
    QString uuid = xmlValue(QStringLiteral("UDN"), description).value_or(QString());
    uuid.remove(QStringLiteral("uuid:"));
    const QString host = url.host();
    Speaker speaker;
    speaker.id = QStringLiteral("sonos:") + (uuid.isEmpty() ? host : uuid);
    speaker.kind = SpeakerKind::Sonos;
    // Room names are text: "Kid&apos;s Room" is the room Kid's Room.
    speaker.name = xmlUnescape(*roomName);
    speaker.host = host;
    speaker.port = url.port(1400);
    speaker.sonosUUID = uuid;
    return speaker;
}

} // namespace pealix::sonos
