// SSDP datagrams and device descriptions as any device on the network may send them.
#include "FuzzCheck.h"
#include "sonos/SsdpReply.h"

using namespace pealix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input input(data, size);
    const QByteArray datagram = input.piece();
    for (const QString &location : sonos::sonosLocations(datagram))
        FUZZ_CHECK(sonos::isSonosLocation(location));

    const QString location = QString::fromUtf8(input.piece());
    const QString description = QString::fromUtf8(input.rest());
    if (const auto speaker = sonos::speakerFromDescription(location, description)) {
        FUZZ_CHECK(speaker->id.startsWith(QLatin1String("sonos:")) && speaker->kind == SpeakerKind::Sonos);
        FUZZ_CHECK(speaker->port >= 0 && speaker->port <= 65535);
        FUZZ_CHECK(speaker->sonosUUID.has_value());
    }
    return 0;
}
