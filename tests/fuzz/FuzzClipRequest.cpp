// The clip server's request head and Range parsing: every answer stays inside
// the clip and says in its header exactly what its body holds.
#include "FuzzCheck.h"
#include "clipserver/ByteRange.h"
#include "clipserver/ClipResponse.h"

#include <QList>

#include <charconv>

using namespace pealix;

namespace {

// What a plain reading of "optional sign, digits" gives, for comparison.
bool referenceInteger(QByteArray text, qint64 *value)
{
    // from_chars takes a minus sign but no plus sign.
    const bool plus = text.startsWith('+');
    if (plus)
        text = text.mid(1);
    const qsizetype digitsFrom = !plus && text.startsWith('-') ? 1 : 0;
    if (text.size() == digitsFrom)
        return false;
    for (qsizetype i = digitsFrom; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
    }
    const char *end = text.constData() + text.size();
    const auto [stop, error] = std::from_chars(text.constData(), end, *value);
    return error == std::errc() && stop == end;
}

qint64 headerNumber(const QByteArray &header, const QByteArray &name)
{
    const qsizetype at = header.indexOf("\r\n" + name + ": ");
    if (at < 0)
        return -1;
    const qsizetype start = at + name.size() + 4;
    return header.mid(start, header.indexOf("\r\n", start) - start).toLongLong();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input input(data, size);
    // Clip sizes around the edges as often as ordinary ones.
    const quint32 choice = input.number();
    const qint64 total = choice % 4 == 0 ? qint64(choice % 3) : qint64(choice % 100000);
    const QByteArray head = input.rest();

    const ClipResponse response = buildClipResponse(head, total);
    FUZZ_CHECK(response.header.startsWith("HTTP/1.1 ") && response.header.endsWith("\r\n\r\n"));
    FUZZ_CHECK(response.bodyStart >= 0 && response.bodyLength >= 0);
    FUZZ_CHECK(response.bodyStart + response.bodyLength <= total);
    if (response.header.startsWith("HTTP/1.1 416 ")) {
        FUZZ_CHECK(response.bodyLength == 0 && !response.isFetch);
    } else {
        const qint64 declared = headerNumber(response.header, "Content-Length");
        FUZZ_CHECK(declared >= 0 && declared <= total);
        FUZZ_CHECK(response.bodyLength == 0 || response.bodyLength == declared);
    }

    // Every line as a Range line on its own.
    for (const QByteArray &line : head.split('\n')) {
        const QString text = QString::fromUtf8(line);
        const ByteRange range = parseRange(text, total);
        if (!range.isUnsatisfiable) {
            FUZZ_CHECK(range.start >= 0 && range.start <= range.end);
            FUZZ_CHECK(range.end <= std::max<qint64>(total - 1, 0));
        }
        qint64 ours = 0, theirs = 0;
        const bool parsed = parseDecimalInteger(text, &ours);
        FUZZ_CHECK(parsed == referenceInteger(text.toUtf8(), &theirs));
        FUZZ_CHECK(!parsed || ours == theirs);
    }
    return 0;
}
