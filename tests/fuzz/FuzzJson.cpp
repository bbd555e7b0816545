// Speaker records and the stored chord as JSON of any shape: what is accepted
// is well-formed and writes back to the same value.
#include "FuzzCheck.h"
#include "model/HotkeyConfig.h"
#include "model/Speaker.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace pealix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto speaker = Speaker::fromJson(QJsonDocument::fromJson(bytes).object())) {
        FUZZ_CHECK(speaker->port >= 0 && speaker->port <= 65535);
        FUZZ_CHECK(Speaker::fromJson(speaker->toJson()) == speaker);
    }
    if (const auto chord = HotkeyConfig::fromJson(bytes)) {
        FUZZ_CHECK(HotkeyConfig::fromJson(chord->toJson()) == chord);
        chord->displayString();
    }
    return 0;
}
