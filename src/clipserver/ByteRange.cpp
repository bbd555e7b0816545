#include "clipserver/ByteRange.h"

#include <QString>

#include <algorithm>
#include <limits>

namespace pealix {

namespace {

QStringView trimHorizontalSpace(QStringView text)
{
    auto isBlank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

bool startsWithRangeName(QStringView line)
{
    // Case-insensitive, and nothing may stand between the name and the colon.
    return line.startsWith(QLatin1String("range:"), Qt::CaseInsensitive);
}

} // namespace

bool parseDecimalInteger(QStringView text, qint64 *value)
{
    if (text.isEmpty())
        return false;
    bool negative = false;
    if (text.front() == QLatin1Char('+') || text.front() == QLatin1Char('-')) {
        negative = text.front() == QLatin1Char('-');
        text = text.mid(1);
    }
    if (text.isEmpty())
        return false;
    // Accumulate towards the negative side, which has room for the minimum.
    constexpr qint64 minimum = std::numeric_limits<qint64>::min();
    qint64 accumulated = 0;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        const int digit = c.unicode() - '0';
        if (accumulated < (minimum + digit) / 10)
            return false;
        accumulated = accumulated * 10 - digit;
    }
    if (!negative) {
        if (accumulated == minimum)
            return false;
        accumulated = -accumulated;
    }
    *value = accumulated;
    return true;
}

ByteRange parseRange(QStringView rangeLine, qint64 total)
{
    const qint64 last = total - 1;
    const ByteRange whole{0, std::max<qint64>(last, 0), false, false};
    if (!startsWithRangeName(rangeLine))
        return whole;

    const qsizetype equals = rangeLine.indexOf(QLatin1Char('='));
    const QStringView rangeSet = equals < 0 ? QStringView() : rangeLine.mid(equals + 1);
    const qsizetype dash = rangeSet.indexOf(QLatin1Char('-'));
    const QStringView a = trimHorizontalSpace(dash < 0 ? rangeSet : rangeSet.left(dash));
    const QStringView b = trimHorizontalSpace(dash < 0 ? QStringView() : rangeSet.mid(dash + 1));

    qint64 bValue = 0;
    const bool bIsInteger = parseDecimalInteger(b, &bValue);

    if (a.isEmpty()) {
        // "-N": the last N bytes.
        if (!bIsInteger || bValue < 1 || total < 1)
            return whole;
        return ByteRange{std::max<qint64>(total - bValue, 0), last, true, false};
    }

    qint64 aValue = 0;
    if (!parseDecimalInteger(a, &aValue))
        return whole;
    const qint64 wantedEnd = bIsInteger ? std::min(bValue, last) : last;
    if (total >= 1 && aValue >= total)
        return ByteRange{0, 0, false, true};
    const qint64 ceiling = std::max<qint64>(last, 0);
    const qint64 start = std::clamp<qint64>(aValue, 0, ceiling);
    const qint64 end = std::max(start, std::min(ceiling, wantedEnd));
    return ByteRange{start, end, true, false};
}

} // namespace pealix
