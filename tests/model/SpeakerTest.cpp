#include "model/Speaker.h"

#include <QJsonDocument>
#include <QSet>
#include <gtest/gtest.h>

#include <limits>
#include <unordered_set>

using namespace pealix;

namespace {
const Speaker kKitchen{QStringLiteral("sonos:RINCON_1"),
                       SpeakerKind::Sonos,
                       QStringLiteral("Kitchen"),
                       QStringLiteral("192.0.2.10"),
                       1400,
                       QStringLiteral("RINCON_1")};
}

TEST(SpeakerTest, EveryFieldTakesPartInEqualityAndHashing)
{
    std::vector<Speaker> variants(6, kKitchen);
    variants[0].id = QStringLiteral("sonos:RINCON_2");
    variants[1].kind = SpeakerKind::Chromecast;
    variants[2].name = QStringLiteral("Kitchen 2"); // renamed: same id, yet a different value
    variants[3].host = QStringLiteral("192.0.2.11");
    variants[4].port = 1443;
    variants[5].sonosUUID = std::nullopt;
    for (const Speaker &variant : variants)
        EXPECT_NE(variant, kKitchen);

    Speaker emptyUuid = kKitchen; // an empty UUID is not an absent one
    emptyUuid.sonosUUID = QString();
    const Speaker copy = kKitchen;
    EXPECT_EQ(QSet<Speaker>({kKitchen, copy, emptyUuid, variants[5]}).size(), 3);
    EXPECT_EQ(std::unordered_set<Speaker>({kKitchen, copy, emptyUuid, variants[5]}).size(), 3u);
}

TEST(SpeakerTest, JsonRoundTripsAndLeavesOutAnAbsentUuid)
{
    const Speaker cast{QStringLiteral("cast:abc"),
                       SpeakerKind::Chromecast,
                       QStringLiteral("Den"),
                       QStringLiteral("fe80::1"),
                       8009,
                       std::nullopt};
    EXPECT_FALSE(cast.toJson().contains(QStringLiteral("sonosUUID")));
    EXPECT_EQ(cast.toJson().value(QStringLiteral("kind")).toString(), QStringLiteral("chromecast"));
    Speaker emptyUuid = kKitchen;
    emptyUuid.sonosUUID = QString();
    Speaker largestPort = cast;
    largestPort.port = 65535;
    Speaker portZero = cast;
    portZero.port = 0;
    for (const Speaker &speaker : {cast, kKitchen, emptyUuid, largestPort, portZero})
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
        {"kind", QString()},
        {"port", QStringLiteral("1400")},
        {"port", 1400.5},
        {"name", 3},
        {"sonosUUID", QJsonValue()},
        {"id", QJsonValue::Undefined},
        {"kind", QJsonValue::Undefined},
        {"host", QJsonValue::Undefined},
        {"port", QJsonValue::Undefined},
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
    EXPECT_EQ(speakerKindFromRawValue(QStringLiteral("sonos")), SpeakerKind::Sonos);
}
