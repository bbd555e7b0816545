#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <utility>

// Players speak a small, fixed dialect of XML. It is read by literal tag search
// and written by plain concatenation, never through a parser, so that a broken
// or hostile body can only ever produce "no value".
namespace pealix::sonos {

// SOAP arguments in the order they are written into the body.
using SoapArguments = QList<std::pair<QString, QString>>;

// The five predefined entities, "&" first so nothing is escaped twice.
QString xmlEscape(const QString &text);

// The reverse, "&amp;" last so "&amp;lt;" becomes "&lt;" and not "<".
QString xmlUnescape(const QString &text);

// The raw text between the first "<name>" and the first "</name>" of `body`,
// neither trimmed nor unescaped; nothing when either tag is missing or the
// closing tag starts before the opening tag ends.
std::optional<QString> tagValue(const QString &name, const QString &body);

// tagValue with white space and line breaks trimmed from both ends, as device
// descriptions are read.
std::optional<QString> xmlValue(const QString &name, const QString &body);

// The value of `name="..."` in an element head; nothing when the attribute is
// missing or its closing quote is.
std::optional<QString> attributeValue(const QString &name, const QString &head);

// The text up to and including the first ">", or all of it when there is none.
QString elementHead(const QString &piece);

// The complete request body of one SOAP action; action and service go in as
// they are, argument values escaped.
QString soapEnvelope(const QString &action, const QString &service, const SoapArguments &arguments);

// An optional sign and one or more ASCII digits, nothing else, within 64 bits.
std::optional<qint64> parseWholeNumber(const QString &text);

} // namespace pealix::sonos
