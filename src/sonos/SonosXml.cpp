#include "sonos/SonosXml.h"

#include <limits>

namespace pealix::sonos {

QString xmlEscape(const QString &text)
{
    QString out = text;
    out.replace(QLatin1String("&"), QLatin1String("&amp;"));
    out.replace(QLatin1String("<"), QLatin1String("&lt;"));
    out.replace(QLatin1String(">"), QLatin1String("&gt;"));
    out.replace(QLatin1String("\""), QLatin1String("&quot;"));
    out.replace(QLatin1String("'"), QLatin1String("&apos;"));
    return out;
}

QString xmlUnescape(const QString &text)
{
    QString out = text;
    out.replace(QLatin1String("&lt;"), QLatin1String("<"));
    out.replace(QLatin1String("&gt;"), QLatin1String(">"));
    out.replace(QLatin1String("&quot;"), QLatin1String("\""));
    out.replace(QLatin1String("&apos;"), QLatin1String("'"));
    out.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return out;
}

std::optional<QString> tagValue(const QString &name, const QString &body)
{
    const QString open = QLatin1Char('<') + name + QLatin1Char('>');
    const QString close = QLatin1String("</") + name + QLatin1Char('>');
    const qsizetype openAt = body.indexOf(open);
    const qsizetype closeAt = body.indexOf(close);
    if (openAt < 0 || closeAt < 0)
        return std::nullopt;
    const qsizetype valueAt = openAt + open.size();
    if (closeAt < valueAt)
        return std::nullopt;
    return body.mid(valueAt, closeAt - valueAt);
}

std::optional<QString> xmlValue(const QString &name, const QString &body)
{
    const auto value = tagValue(name, body);
    if (!value)
        return std::nullopt;
    return value->trimmed();
}

std::optional<QString> attributeValue(const QString &name, const QString &head)
{
    const QString marker = name + QLatin1String("=\"");
    const qsizetype at = head.indexOf(marker);
    if (at < 0)
        return std::nullopt;
    const qsizetype valueAt = at + marker.size();
    const qsizetype end = head.indexOf(QLatin1Char('"'), valueAt);
    if (end < 0)
        return std::nullopt;
    return head.mid(valueAt, end - valueAt);
}

QString elementHead(const QString &piece)
{
    const qsizetype end = piece.indexOf(QLatin1Char('>'));
    return end < 0 ? piece : piece.left(end + 1);
}

QString soapEnvelope(const QString &action, const QString &service, const SoapArguments &arguments)
{
    QString argumentText;
    for (const auto &[name, value] : arguments)
        argumentText += QLatin1Char('<') + name + QLatin1Char('>') + xmlEscape(value) + QLatin1String("</") +
                        name + QLatin1Char('>');
    return QLatin1String("<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                         "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                         "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:") +
           action + QLatin1String(" xmlns:u=\"") + service + QLatin1String("\">") + argumentText +
           QLatin1String("</u:") + action + QLatin1String("></s:Body></s:Envelope>");
}

std::optional<qint64> parseWholeNumber(const QString &text)
{
    qsizetype at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == QLatin1Char('+') || text[at] == QLatin1Char('-'))) {
        negative = text[at] == QLatin1Char('-');
        ++at;
    }
    if (at == text.size())
        return std::nullopt;
    // Accumulate towards the negative end, which holds one more value than the positive.
    qint64 value = 0;
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    for (; at < text.size(); ++at) {
        const char16_t c = text[at].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == lowest)
            return std::nullopt;
        value = -value;
    }
    return value;
}

} // namespace pealix::sonos
