#include "model/Speaker.h"

#include <QJsonDocument>
#include <QSet>
#include <gtest/gtest.h>

#include <unordered_set>

using namespace pealix;

namespace {
Speaker kitchen()
{
    return Speaker{QStringLiteral("sonos:RINCON_1"), SpeakerKind::Sonos, QStringLiteral("Kitchen"),
                   QStringLiteral("192.0.2.10"), 1400, QStringLiteral("RINCON_1")};
}
} // namespace

TEST(SpeakerKindTest, ConvertsToAndFromItsRawValueOnly)
{
    EXPECT_EQ(rawValue(SpeakerKind::Sonos), QStringLiteral("sonos"));
    EXPECT_EQ(rawValue(SpeakerKind::Chromecast), QStringLiteral("chromecast"));
    EXPECT_EQ(speakerKindFromRawValue(QStringLiteral("chromecast")), SpeakerKind::Chromecast);
    for (const char *other : {"Sonos", "cast", "", " sonos"})
        EXPECT_FALSE(speakerKindFromRawValue(QString::fromLatin1(other))) << other;
}

TEST(SpeakerTest, EveryFieldTakesPartInEqualityAndHashing)
{
    const Speaker base = kitchen();
    std::vector<Speaker> variants(6, base);
    variants[0].id = QStringLiteral("sonos:RINCON_2");
    variants[1].kind = SpeakerKind::Chromecast;
    variants[2].name = QStringLiteral("Kitchen 2"); // renamed: same id, different value
    variants[3].host = QStringLiteral("192.0.2.11");
    variants[4].port = 1443;
    variants[5].sonosUUID = std::nullopt;
    for (const Speaker &variant : variants)
        EXPECT_NE(variant, base);
    EXPECT_EQ(variants[2].id, base.id);

    // Absent and empty UUIDs differ, and hash apart consistently with equality.
    Speaker emptyUuid = base;
    emptyUuid.sonosUUID = QString();
    EXPECT_NE(emptyUuid, variants[5]);

    QSet<Speaker> qtSet{base, kitchen(), emptyUuid, variants[5]};
    std::unordered_set<Speaker> stdSet{base, kitchen(), emptyUuid, variants[5]};
    EXPECT_EQ(qtSet.size(), 3);
    EXPECT_EQ(stdSet.size(), 3u);
    EXPECT_EQ(qHash(base, 7), qHash(kitchen(), 7));
}

TEST(SpeakerTest, JsonLeavesOutAnAbsentUuidAndRoundTrips)
{
    Speaker cast{QStringLiteral("cast:abc"), SpeakerKind::Chromecast, QStringLiteral("Den"),
                 QStringLiteral("fe80::1"), 8009, std::nullopt};
    const QJsonObject castJson = cast.toJson();
    EXPECT_FALSE(castJson.contains(QStringLiteral("sonosUUID")));
    EXPECT_EQ(castJson.value(QStringLiteral("kind")).toString(), QStringLiteral("chromecast"));
    EXPECT_EQ(Speaker::fromJson(castJson), cast);

    Speaker sonosWithoutUuid = kitchen();
    sonosWithoutUuid.sonosUUID = QString();
    EXPECT_TRUE(sonosWithoutUuid.toJson().contains(QStringLiteral("sonosUUID")));
    EXPECT_EQ(Speaker::fromJson(sonosWithoutUuid.toJson()), sonosWithoutUuid);
    EXPECT_EQ(Speaker::fromJson(kitchen().toJson()), kitchen());
}

TEST(SpeakerTest, JsonOfTheWrongShapeIsRejected)
{
    const QJsonObject good = kitchen().toJson();
    const auto with = [&](const char *key, const QJsonValue &value) {
        QJsonObject object = good;
        object.insert(QLatin1String(key), value);
        return object;
    };
    const auto without = [&](const char *key) {
        QJsonObject object = good;
        object.remove(QLatin1String(key));
        return object;
    };
    EXPECT_FALSE(Speaker::fromJson(with("kind", QStringLiteral("airplay"))));
    EXPECT_FALSE(Speaker::fromJson(with("port", QStringLiteral("1400"))));
    EXPECT_FALSE(Speaker::fromJson(with("port", 1400.5)));
    EXPECT_FALSE(Speaker::fromJson(with("name", 3)));
    EXPECT_FALSE(Speaker::fromJson(with("sonosUUID", QJsonValue())));
    for (const char *key : {"id", "kind", "name", "host", "port"})
        EXPECT_FALSE(Speaker::fromJson(without(key))) << key;
    EXPECT_TRUE(Speaker::fromJson(with("extra", true)));
}
