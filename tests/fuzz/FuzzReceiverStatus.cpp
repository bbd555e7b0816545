// The receiver status a Cast device sends, as JSON text of any shape: the
// answer depends on what the JSON says, not on how it is written.
#include "FuzzCheck.h"
#include "cast/CastController.h"

#include <QJsonDocument>

using namespace pealix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString payload = QString::fromUtf8(bytes);
    const auto id = CastController::transportId(payload);
    const QJsonDocument document = QJsonDocument::fromJson(payload.toUtf8());
    if (!document.isNull()) {
        const QString rewritten = QString::fromUtf8(document.toJson(QJsonDocument::Compact));
        FUZZ_CHECK(CastController::transportId(rewritten) == id);
    } else {
        FUZZ_CHECK(!id);
    }
    return 0;
}
