#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>

// A player's own handling of the texts of UPnP control, written apart from the
// application's so that a fault in one is not mirrored by the other.
namespace pealix::house::soap {

// The five predefined entities, as a player escapes what it reports.
QByteArray escaped(const QString &text);

// The unescaped text of the first element `name` of a request body; empty when absent.
QString argument(const QString &body, const QString &name);

// "H:MM:SS", whole seconds (a player reports no fractions).
QByteArray clockText(std::chrono::milliseconds position);
std::optional<std::chrono::milliseconds> parseClock(const QString &text);

// A complete HTTP/1.1 response that closes the connection.
QByteArray httpReply(const QByteArray &status, const QByteArray &body);

// The body of a successful answer to `action` around its inner XML.
QByteArray actionResponse(const QByteArray &action, const QByteArray &inner);

// A UPnP fault; `code` empty gives a fault without an error code.
QByteArray fault(const QByteArray &code);

} // namespace pealix::house::soap
