#include "cast/FakeCastDevice.h"

#include "cast/CastProtocol.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace pealix::test {

const FakeCastDevice::Tls &FakeCastDevice::tls()
{
    static QTemporaryDir dir;
    static const Tls made = [] {
        Tls tls{.certificatePath = dir.filePath(u"device.crt"_s), .keyPath = dir.filePath(u"device.key"_s)};
        // An EC key: generated in milliseconds, unlike RSA.
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(u"openssl"_s,
                      u"req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
                      "-subj /CN=pealix-test-device -keyout"_s.split(' ')
                          << tls.keyPath << u"-out"_s << tls.certificatePath);
        QFile key(tls.keyPath);
        if (openssl.waitForFinished(30000) && key.open(QIODevice::ReadOnly)) {
            tls.certificate = QSslCertificate::fromPath(tls.certificatePath).value(0);
            tls.key = QSslKey(&key, QSsl::Ec);
        }
        if (tls.certificate.isNull() || tls.key.isNull())
            tls.error = u"openssl made no usable certificate: "_s + QString::fromLocal8Bit(openssl.readAll());
        return tls;
    }();
    return made;
}

FakeCastDevice::Step FakeCastDevice::message(const QString &ns, const QString &payload, const QString &source)
{
    return {CastProtocol::encode(source, u"sender-0"_s, "urn:x-cast:com.google.cast." + ns, payload)};
}

void FakeCastDevice::incomingConnection(qintptr descriptor)
{
    ++connections;
    auto *socket = new QSslSocket(this);
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
        closedAtMs = QDeadlineTimer::current().deadline();
        socket->deleteLater();
    });
    socket->setSocketDescriptor(descriptor);
    if (accept == Accept::CloseAtOnce)
        return socket->abort();
    if (accept == Accept::NeverHandshake)
        return; // the TCP connection stays open and silent
    socket->setLocalCertificate(tls().certificate);
    socket->setPrivateKey(tls().key);
    connect(socket, &QSslSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    socket->startServerEncryption();
}

void FakeCastDevice::onReadyRead(QSslSocket *socket)
{
    reader.append(socket->readAll());
    while (const std::optional<QByteArray> body = reader.takeFrame()) {
        const CastProtocol::Message m = CastProtocol::decode(*body);
        received << m.destination + ' ' + m.namespace_.section('.', -1) + ' ' + m.payload;
        lastFrameAtMs = QDeadlineTimer::current().deadline();
        if (m.payload.contains(uR"("type":"LOAD")"_s))
            play(socket, onLoad);
        if (m.payload.contains(uR"("type":"LAUNCH")"_s))
            play(socket, onLaunch);
    }
}

void FakeCastDevice::play(QSslSocket *socket, const QList<Step> &steps)
{
    for (const auto &[bytes, end] : steps) {
        socket->write(bytes);
        if (end == Step::Reset) {
            socket->flush();
            return socket->abort();
        }
        if (end == Step::StopReading) {
            socket->setReadBufferSize(1);
            disconnect(socket, &QSslSocket::readyRead, nullptr, nullptr);
        }
    }
}

} // namespace pealix::test
