#pragma once

#include "house/devices/SimulatedSonosPlayer.h"

namespace pealix::test {

using namespace Qt::StringLiterals;

// The house's Sonos player as the tests meet it: on a loopback address, busy
// with the radio when it starts, and done with a clip in 300 ms whatever its
// length, so that tests with bytes that are no audio file still see it play.
class FakeSonosPlayer : public house::SimulatedSonosPlayer
{
public:
    static inline const QString kQueueUri = u"x-rincon-queue:RINCON_A1400#0"_s;
    static inline const QString kRadioUri = u"x-sonosapi-stream:s24940?sid=254&flags=8224"_s;
    static inline const QString kRadioMetadata =
        uR"(<DIDL-Lite><item id="-1"><dc:title>Ann &amp; Bo</dc:title></item></DIDL-Lite>)"_s;

    // The situations a user leaves a player in.
    static State radio(const QString &transportState)
    {
        return {kRadioUri, kRadioMetadata, 1, std::chrono::seconds(137), transportState, 23};
    }
    static State queue(int track, std::chrono::seconds position, const QString &transportState)
    {
        return {kQueueUri, QString(), track, position, transportState, 23};
    }
    static State idle() { return {QString(), QString(), 0, std::chrono::milliseconds(0), kStopped, 23}; }

    explicit FakeSonosPlayer(const QHostAddress &address, quint16 port = 0)
        : SimulatedSonosPlayer(address, port)
    {
        clipPlayTime = std::chrono::milliseconds(300);
        setState(radio(kPlaying));
    }

    // A player that serves only its device description, which omits roomName or UDN when null.
    FakeSonosPlayer(const char *address, const QByteArray &roomName, const QByteArray &udn, quint16 port = 0)
        : FakeSonosPlayer(QHostAddress(QLatin1String(address)), port)
    {
        responses = {{kDescriptionPath,
                      "<root><device><friendlyName>Sonos One</friendlyName>" +
                          (roomName.isNull() ? QByteArray() : "<roomName>" + roomName + "</roomName>") +
                          (udn.isNull() ? QByteArray() : "<UDN>" + udn + "</UDN>") + "</device></root>"}};
    }
};

} // namespace pealix::test
