#include "cast/CastController.h"
#include "support/FakeCastDevice.h"
#include "support/MdnsSandbox.h"
#include "support/TestEnvironment.h"

#include <QNetworkProxy>
#include <gtest/gtest.h>

using namespace pealix;
using namespace pealix::test;
using namespace std::chrono_literals;
using Device = FakeCastDevice;

namespace {

// Qt never proxies a loopback target, so the device needs another address: the
// test's own network namespace puts this one on its lo.
const QHostAddress deviceAddress(u"10.77.8.1"_s);

// A proxy that writes down what reached it and answers nothing.
struct RecordingProxy : QTcpServer
{
    QByteArray heard;
    int connections = 0;

    void incomingConnection(qintptr descriptor) override
    {
        ++connections;
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { heard += socket->readAll(); });
    }
};

// What a Qt application that follows the system's configuration ends up with
// when its environment names a proxy, as on many company laptops.
QNetworkProxy proxyFromEnvironment()
{
    const QUrl url(QString::fromLocal8Bit(qgetenv("all_proxy")));
    return QNetworkProxy(QNetworkProxy::HttpProxy, url.host(), quint16(url.port()));
}

} // namespace

TEST(CastProxyTest, TheSessionGoesStraightToTheDeviceWhateverProxyTheEnvironmentNames)
{
    PEALIX_REQUIRE(!Device::tlsDir().isEmpty(), "openssl made no certificate");
    Device device;
    PEALIX_REQUIRE(sandboxRefusal().empty() && device.start(deviceAddress),
                   "needs the private namespace with 10.77.8.1 on lo that ctest makes");
    device.onLaunch = {Device::receiverStatus('[' + Device::mediaReceiverApp(u"web-1"_s) + ']')};
    RecordingProxy proxy;
    ASSERT_TRUE(proxy.listen(QHostAddress::LocalHost));
    const QByteArray proxyUrl = "http://127.0.0.1:" + QByteArray::number(proxy.serverPort());
    for (const char *variable : {"http_proxy", "https_proxy", "all_proxy"})
        qputenv(variable, proxyUrl);
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    QNetworkProxy::setApplicationProxy(proxyFromEnvironment());

    CastController controller;
    controller.setTimings({3s, 0ms});
    const Speaker speaker{
        u"cast:x"_s, SpeakerKind::Chromecast, u"x"_s, deviceAddress.toString(), device.serverPort(),
        std::nullopt};
    EXPECT_EQ(finish(controller.prepare(speaker)), true);
    const QString url = u"http://10.77.8.2:8000/clip.m4a"_s;
    EXPECT_EQ(finish(controller.play(url, 0)), DeviceReply::noAnswer());
    EXPECT_TRUE(waitUntil([&device] { return device.peerClosed(); }));
    EXPECT_EQ(device.received, QStringList({connectTo(u"receiver-0"_s), launch, connectTo(u"web-1"_s),
                                            load(u"web-1"_s, url)}));
    EXPECT_EQ(proxy.connections, 0) << proxy.heard.toStdString();

    // The proxy is in force for a socket that does not opt out: the check above means something.
    QSslSocket other;
    other.connectToHostEncrypted(deviceAddress.toString(), device.serverPort());
    EXPECT_TRUE(waitUntil([&proxy] { return proxy.heard.contains("\r\n\r\n"); }));
    EXPECT_TRUE(proxy.heard.startsWith("CONNECT 10.77.8.1:" + QByteArray::number(device.serverPort())))
        << proxy.heard.toStdString();
    EXPECT_EQ(device.connections, 1);
}
