#include "model/Speaker.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

#include <limits>

using namespace pealix;

namespace {
const Speaker kKitchen{QStringLiteral("sonos:RINCON_1"),
                       SpeakerKind::Sonos,
                       QStringLiteral("Kitchen"),
                       QStringLiteral("192.0.2.10"),
                       1400,
                       QStringLiteral("RINCON_1")};
}

TEST(SpeakerTest, JsonRoundTripsAndLeavesOutAnAbsentUuid)
{
    // The stored form of a Cast speaker, at the top of the port range.
    const Speaker cast{QStringLiteral("cast:abc"),
                       SpeakerKind::Chromecast,
                       QStringLiteral("Den"),
                       QStringLiteral("fe80::1"),
                       65535,
                       std::nullopt};
    EXPECT_EQ(QJsonDocument(cast.toJson()).toJson(QJsonDocument::Compact),
              R"({"host":"fe80::1","id":"cast:abc","kind":"chromecast","name":"Den","port":65535})");
    Speaker emptyUuid = kKitchen; // an empty UUID is not an absent one
    emptyUuid.sonosUUID = QString();
    for (const Speaker &speaker : {cast, kKitchen, emptyUuid})
        EXPECT_EQ(Speaker::fromJson(speaker.toJson()), speaker) << speaker.id.toStdString();
}

TEST(SpeakerTest, JsonOfTheWrongShapeAndUnknownKindsAreRejected)
{
    const auto with = [](const char *key, const QJsonValue &value) {
        QJsonObject object = kKitchen.toJson();
        if (value.isUndefined())
            object.remove(QLatin1String(key));
        else
            object.insert(QLatin1String(key), value);
        return object;
    };
    const std::pair<const char *, QJsonValue> rejects[] = {
        {"kind", QStringLiteral("Sonos")},
        {"port", QStringLiteral("1400")},
        {"port", 1400.5},
        {"name", 3},
        {"sonosUUID", QJsonValue()},
        {"id", QJsonValue::Undefined},
        {"host", QJsonValue::Undefined},
        // Ports no socket has; the huge ones do not even fit a 64-bit integer.
        {"port", 65536},
        {"port", -1},
        {"port", 1e19},
        {"port", -1e19},
        {"port", 9.3e18},
        {"port", 1e308},
        {"port", std::numeric_limits<double>::infinity()},
        {"port", std::numeric_limits<double>::quiet_NaN()}};
    for (const auto &[key, value] : rejects)
        EXPECT_FALSE(Speaker::fromJson(with(key, value)))
            << key << " " << value.toVariant().toString().toStdString();
    // As read from a stored text, where the out-of-range conversion used to happen.
    const QByteArray huge = R"({"id":"a","kind":"sonos","name":"n","host":"h","port":1e19})";
    EXPECT_FALSE(Speaker::fromJson(QJsonDocument::fromJson(huge).object()));
    EXPECT_TRUE(Speaker::fromJson(with("extra", true)));
}
