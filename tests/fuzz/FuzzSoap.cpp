// The SOAP helpers and the zone group state: escaping round-trips, and an
// argument written into an envelope reads back as it went in.
#include "FuzzCheck.h"
#include "sonos/SonosTopology.h"
#include "sonos/SonosXml.h"

using namespace pealix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input input(data, size);
    const QString text = QString::fromUtf8(input.piece());
    FUZZ_CHECK(sonos::xmlUnescape(sonos::xmlEscape(text)) == text);

    const QString envelope = sonos::soapEnvelope(
        QStringLiteral("SetAVTransportURI"), QStringLiteral("urn:schemas-upnp-org:service:AVTransport:1"),
        {{QStringLiteral("InstanceID"), QStringLiteral("0")}, {QStringLiteral("CurrentURI"), text}});
    const auto written = sonos::tagValue(QStringLiteral("CurrentURI"), envelope);
    FUZZ_CHECK(written && sonos::xmlUnescape(*written) == text);

    const QString name = QString::fromUtf8(input.piece());
    const QString body = QString::fromUtf8(input.rest());
    if (const auto value = sonos::tagValue(name, body))
        FUZZ_CHECK(body.contains(*value));
    sonos::xmlValue(name, body);
    sonos::attributeValue(name, sonos::elementHead(body));
    if (const auto number = sonos::parseWholeNumber(body)) {
        // The same digits without sign or leading zeros, and the sign where it matters.
        QString digits = body.mid(body.startsWith(u'+') || body.startsWith(u'-') ? 1 : 0);
        while (digits.size() > 1 && digits.startsWith(u'0'))
            digits.remove(0, 1);
        const bool negative = body.startsWith(u'-') && digits != QLatin1String("0");
        FUZZ_CHECK(QString::number(*number) == (negative ? QStringLiteral("-") : QString()) + digits);
    }

    const sonos::SonosTopology topology = sonos::SonosTopology::parse(body);
    const Speaker member{
        QStringLiteral("sonos:") + name, SpeakerKind::Sonos, name, QStringLiteral("192.0.2.1"), 1400, name};
    const QList<Speaker> chosen = topology.coordinatorsFor({member});
    FUZZ_CHECK(chosen.size() == 1 && chosen.first().kind == SpeakerKind::Sonos);
    return 0;
}
