#include "support/FakeCastDevice.h"

#include "support/TlsTestCertificate.h"

#include <QHostAddress>
#include <QtEndian>

#include <optional>

namespace pealix::test {

namespace {

void putVarint(quint64 value, QByteArray &out)
{
    do {
        const char low = char(value & 0x7F);
        value >>= 7;
        out.append(value ? char(low | 0x80) : low);
    } while (value);
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

// Strict: anything but the seven CastMessage fields leaves the frame marked
// with protocol version -1, which no assertion accepts.
FakeCastDevice::Frame parse(const QByteArray &body)
{
    FakeCastDevice::Frame frame;
    qsizetype pos = 0;
    while (pos < body.size()) {
        const auto key = getVarint(body, pos);
        if (!key)
            return {};
        const quint64 field = *key >> 3;
        if ((*key & 7) == 0) {
            const auto value = getVarint(body, pos);
            if (!value || (field != 1 && field != 5))
                return {};
            (field == 1 ? frame.protocolVersion : frame.payloadType) = qint64(*value);
        } else if ((*key & 7) == 2) {
            const auto length = getVarint(body, pos);
            if (!length || *length > quint64(body.size() - pos))
                return {};
            const QString text = QString::fromUtf8(body.mid(pos, qsizetype(*length)));
            pos += qsizetype(*length);
            switch (field) {
            case 2:
                frame.source = text;
                break;
            case 3:
                frame.destination = text;
                break;
            case 4:
                frame.namespace_ = text;
                break;
            case 6:
                frame.payload = text;
                break;
            default:
                return {};
            }
        } else {
            return {};
        }
    }
    return frame;
}

} // namespace

FakeCastDevice::FakeCastDevice(QObject *parent) : QTcpServer(parent) {}

bool FakeCastDevice::start()
{
    if (!TlsTestCertificate::shared().isValid())
        return false;
    m_clock.start();
    return listen(QHostAddress::LocalHost, 0);
}

QByteArray FakeCastDevice::frame(const QString &source, const QString &destination, const QString &namespace_,
                                 const QString &payload)
{
    QByteArray body;
    body.append('\x08').append('\0');
    putString(2, source, body);
    putString(3, destination, body);
    putString(4, namespace_, body);
    body.append('\x28').append('\0');
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

FakeCastDevice::Step FakeCastDevice::raw(const QByteArray &bytes, Step::End end)
{
    return {bytes, end};
}

QList<FakeCastDevice::Frame> FakeCastDevice::receivedIn(const QString &namespace_) const
{
    QList<Frame> frames;
    for (const Frame &frame : m_received) {
        if (frame.namespace_ == namespace_)
            frames.append(frame);
    }
    return frames;
}

void FakeCastDevice::incomingConnection(qintptr descriptor)
{
    ++m_connections;
    auto *socket = new QSslSocket(this);
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
        m_closedAtMs = m_clock.elapsed();
        socket->deleteLater();
        Q_EMIT connectionEnded();
    });
    if (!socket->setSocketDescriptor(descriptor)) {
        socket->deleteLater();
        return;
    }
    switch (m_accept) {
    case Accept::CloseAtOnce:
        socket->abort();
        return;
    case Accept::NeverHandshake:
        return; // the TCP connection stays open and silent
    case Accept::Handshake:
        break;
    }
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
        const quint32 length = qFromBigEndian<quint32>(m_inbound.constData());
        if (m_inbound.size() < 4 + qsizetype(length))
            return;
        Frame frame = parse(m_inbound.mid(4, qsizetype(length)));
        m_inbound.remove(0, 4 + qsizetype(length));
        frame.atMs = m_clock.elapsed();
        m_received.append(frame);
        Q_EMIT frameReceived();
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
        if (step.end == Step::End::Close) {
            socket->disconnectFromHost();
            return;
        }
        if (step.end == Step::End::Reset) {
            socket->flush();
            socket->abort();
            return;
        }
    }
}

} // namespace pealix::test
