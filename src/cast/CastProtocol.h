#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace pealix::CastProtocol {

// One message of the Cast v2 channel. The payload is the UTF-8 text payload;
// a binary-typed message arrives here with an empty payload.
struct Message
{
    QString source;
    QString destination;
    QString namespace_;
    QString payload;

    friend bool operator==(const Message &, const Message &) = default;
};

// One complete frame: the 4-byte big-endian body length followed by a CastMessage
// body carrying protocol version 0, the three ids and a text payload.
QByteArray encode(const QString &source, const QString &destination, const QString &namespace_,
                  const QString &payload);

// Reads what it can of a CastMessage body (no length prefix). Never fails: fields
// that cannot be read stay empty and invalid UTF-8 becomes U+FFFD.
Message decode(QByteArrayView body);

// Unsigned base-128, least significant group first.
void appendVarint(quint64 value, QByteArray &out);

// Key byte (field * 8 + 2), the UTF-8 byte length as a varint, then the bytes.
// Field numbers stay below 32, so the key is a single byte.
void appendStringField(int field, const QString &value, QByteArray &out);

} // namespace pealix::CastProtocol
