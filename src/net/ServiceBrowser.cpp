#include "net/ServiceBrowser.h"

namespace pealix::net {

std::optional<QByteArray> ResolvedService::txtValue(QByteArrayView key) const
{
    for (const QByteArray &entry : txt) {
        const qsizetype equals = entry.indexOf('=');
        const QByteArrayView entryKey =
            equals < 0 ? QByteArrayView(entry) : QByteArrayView(entry).first(equals);
        // A string that starts with "=" has no key and is skipped.
        if (entryKey.isEmpty() || entryKey.compare(key, Qt::CaseInsensitive) != 0)
            continue;
        // Only the first occurrence of a key counts.
        return equals < 0 ? QByteArray() : entry.mid(equals + 1);
    }
    return std::nullopt;
}

} // namespace pealix::net
