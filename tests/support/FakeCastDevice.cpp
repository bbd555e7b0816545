#include "support/FakeCastDevice.h"

#include "support/TlsTestCertificate.h"

#include <QHostAddress>
#include <QtEndian>

#include <optional>

namespace pealix::test {

namespace {

void putVarint(quint64 value, QByteArray &out)
{
    for (; value > 0x7F; value >>= 7)
        out.append(char((value & 0x7F) | 0x80));
    out.append(char(value));
}

void putString(int field, const QString &value, QByteArray &out)
{
    const QByteArray bytes = value.toUtf8();
    putVarint(quint64(field) << 3 | 2, out);
    putVarint(quint64(bytes.size()), out);
    out.append(bytes);
}

std::optional<quint64> getVarint(const QByteArray &in, qsizetype &pos)
{
    quint64 value = 0;
    for (int shift = 0; shift < 64 && pos < in.size(); shift += 7) {
        const auto byte = quint8(in[pos++]);
        value |= quint64(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return value;
    }
    return std::nullopt;
}

// Strict: anything but the seven CastMessage fields yields a frame whose
// protocol version is -1, which no assertion accepts.
FakeCastDevice::Frame parse(const QByteArray &body)
{
    FakeCastDevice::Frame frame;
    QString *const text[] = {nullptr,           nullptr, &frame.source, &frame.destination,
                             &frame.namespace_, nullptr, &frame.payload};
    for (qsizetype pos = 0; pos < body.size();) {
        const auto key = getVarint(body, pos);
        const quint64 field = key ? *key >> 3 : 0;
        const auto value = key ? getVarint(body, pos) : std::nullopt;
        if (value && (*key & 7) == 0 && (field == 1 || field == 5)) {
            (field == 1 ? frame.protocolVersion : frame.payloadType) = qint64(*value);
        } else if (value && (*key & 7) == 2 && field < 7 && text[field] &&
                   *value <= quint64(body.size() - pos)) {
            *text[field] = QString::fromUtf8(body.mid(pos, qsizetype(*value)));
            pos += qsizetype(*value);
        } else {
            return {};
        }
    }
    return frame;
}

} // namespace

bool FakeCastDevice::start()
{
    m_clock.start();
    return TlsTestCertificate::shared().isValid() && listen(QHostAddress::LocalHost, 0);
}

QByteArray FakeCastDevice::frame(const QString &source, const QString &destination, const QString &namespace_,
                                 const QString &payload)
{
    QByteArray body("\x08\x00", 2);
    putString(2, source, body);
    putString(3, destination, body);
    putString(4, namespace_, body);
    body.append("\x28\x00", 2);
    putString(6, payload, body);
    QByteArray out(4, Qt::Uninitialized);
    qToBigEndian(quint32(body.size()), out.data());
    return out + body;
}

FakeCastDevice::Step FakeCastDevice::message(const QString &source, const QString &namespace_,
                                             const QString &payload)
{
    return {frame(source, QStringLiteral("sender-0"), namespace_, payload)};
}

FakeCastDevice::Step FakeCastDevice::receiverStatus(const QString &payload)
{
    return message(QStringLiteral("receiver-0"), QStringLiteral("urn:x-cast:com.google.cast.receiver"),
                   payload);
}

FakeCastDevice::Step FakeCastDevice::ping(const QString &source)
{
    return message(source, QStringLiteral("urn:x-cast:com.google.cast.tp.heartbeat"),
                   QStringLiteral(R"({"type":"PING"})"));
}

QList<FakeCastDevice::Frame> FakeCastDevice::receivedIn(const QString &namespace_) const
{
    QList<Frame> frames;
    for (const Frame &frame : m_received)
        if (frame.namespace_ == namespace_)
            frames.append(frame);
    return frames;
}

void FakeCastDevice::incomingConnection(qintptr descriptor)
{
    ++m_connections;
    auto *socket = new QSslSocket(this);
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
        m_closedAtMs = m_clock.elapsed();
        socket->deleteLater();
    });
    if (!socket->setSocketDescriptor(descriptor)) {
        socket->deleteLater();
        return;
    }
    if (m_accept == Accept::CloseAtOnce)
        socket->abort();
    if (m_accept != Accept::Handshake)
        return; // NeverHandshake: the TCP connection stays open and silent
    const TlsTestCertificate &tls = TlsTestCertificate::shared();
    socket->setLocalCertificate(tls.certificate);
    socket->setPrivateKey(tls.key);
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    connect(socket, &QSslSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    socket->startServerEncryption();
}

void FakeCastDevice::onReadyRead(QSslSocket *socket)
{
    m_inbound.append(socket->readAll());
    while (m_inbound.size() >= 4) {
        const qsizetype length = qFromBigEndian<quint32>(m_inbound.constData());
        if (m_inbound.size() < 4 + length)
            return;
        Frame frame = parse(m_inbound.mid(4, length));
        m_inbound.remove(0, 4 + length);
        frame.atMs = m_clock.elapsed();
        m_received.append(frame);
        if (frame.payload.contains(QLatin1String(R"("type":"LAUNCH")"))) {
            if (m_stopReading) {
                socket->setReadBufferSize(1);
                disconnect(socket, &QSslSocket::readyRead, this, nullptr);
            }
            play(socket, m_onLaunch);
            if (m_stopReading)
                return;
        }
        if (frame.payload.contains(QLatin1String(R"("type":"LOAD")")))
            play(socket, m_onLoad);
    }
}

void FakeCastDevice::play(QSslSocket *socket, const QList<Step> &steps)
{
    for (const Step &step : steps) {
        socket->write(step.bytes);
        if (step.end == Step::End::Close)
            return socket->disconnectFromHost();
        if (step.end == Step::End::Reset) {
            socket->flush();
            return socket->abort();
        }
    }
}

} // namespace pealix::test
