#include "house/devices/SoapText.h"

#include <QStringList>

namespace pealix::house::soap {

using namespace Qt::StringLiterals;
using namespace std::chrono;

QByteArray escaped(const QString &text)
{
    QString out = text;
    out.replace(u'&', u"&amp;"_s).replace(u'<', u"&lt;"_s).replace(u'>', u"&gt;"_s);
    out.replace(u'"', u"&quot;"_s).replace(u'\'', u"&apos;"_s);
    return out.toUtf8();
}

QString argument(const QString &body, const QString &name)
{
    const qsizetype open = body.indexOf(u'<' + name + u'>');
    const qsizetype close = body.indexOf(u"</"_s + name + u'>');
    if (open < 0 || close < open)
        return {};
    QString value = body.mid(open + name.size() + 2, close - open - name.size() - 2);
    value.replace(u"&lt;"_s, u"<"_s).replace(u"&gt;"_s, u">"_s).replace(u"&quot;"_s, u"\""_s);
    return value.replace(u"&apos;"_s, u"'"_s).replace(u"&amp;"_s, u"&"_s);
}

QByteArray clockText(milliseconds position)
{
    const qint64 s = duration_cast<seconds>(position).count();
    return u"%1:%2:%3"_s.arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QChar(u'0'))
        .arg(s % 60, 2, 10, QChar(u'0'))
        .toLatin1();
}

std::optional<milliseconds> parseClock(const QString &text)
{
    const QStringList parts = text.split(u':');
    bool ok[3] = {false, false, false};
    if (parts.size() != 3)
        return std::nullopt;
    const qint64 value =
        parts[0].toLongLong(&ok[0]) * 3600 + parts[1].toInt(&ok[1]) * 60 + parts[2].toInt(&ok[2]);
    if (!ok[0] || !ok[1] || !ok[2])
        return std::nullopt;
    return seconds(value);
}

QByteArray httpReply(const QByteArray &status, const QByteArray &body)
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray actionResponse(const QByteArray &action, const QByteArray &inner)
{
    return "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:" +
           action + "Response>" + inner + "</u:" + action + "Response></s:Body></s:Envelope>";
}

QByteArray fault(const QByteArray &code)
{
    const QByteArray error = code.isEmpty() ? QByteArray() : "<errorCode>" + code + "</errorCode>";
    return "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><s:Fault>"
           "<faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
           "<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\">" +
           error + "</UPnPError></detail></s:Fault></s:Body></s:Envelope>";
}

} // namespace pealix::house::soap
