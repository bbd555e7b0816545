// The TXT record a Cast device announces: look-ups by key, and the identity made from it.
#include "FuzzCheck.h"
#include "cast/ChromecastDiscovery.h"
#include "net/ServiceBrowser.h"

using namespace pealix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input input(data, size);
    const QString instance = QString::fromUtf8(input.piece());
    const QByteArray key = input.piece();
    net::ResolvedService resolved;
    resolved.host = QStringLiteral("192.0.2.7");
    resolved.port = 8009;
    while (!input.atEnd())
        resolved.txt.append(input.piece());

    if (const auto value = resolved.txtValue(key)) {
        // Some string carries the key (in any letter case), followed by "=" and the value or by nothing.
        bool found = false;
        for (const QByteArray &entry : resolved.txt) {
            const qsizetype equals = entry.indexOf('=');
            const QByteArray entryKey = equals < 0 ? entry : entry.left(equals);
            if (!entryKey.isEmpty() && entryKey.compare(key, Qt::CaseInsensitive) == 0) {
                FUZZ_CHECK((equals < 0 ? QByteArray() : entry.mid(equals + 1)) == *value);
                found = true;
                break;
            }
        }
        FUZZ_CHECK(found);
    }
    const auto identity = ChromecastDiscovery::identify(instance, resolved);
    FUZZ_CHECK(!identity.id.isEmpty() || instance.isEmpty());
    FUZZ_CHECK(!identity.name.isEmpty() || instance.isEmpty());
    return 0;
}
