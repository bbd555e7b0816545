#include "cast/CastProtocol.h"
#include "cast/CastFrameReader.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

using namespace pealix;
using namespace Qt::StringLiterals;
using CastProtocol::Message;

namespace {

const auto hex = [](const char *text) { return QByteArray::fromHex(text); };

// A body without its length prefix; the encoder's exact bytes are pinned down below.
const auto body = [](const Message &m) {
    return CastProtocol::encode(m.source, m.destination, m.namespace_, m.payload).mid(4);
};

const Message reference{"sender-0", "receiver-0", "urn:x-cast:com.google.cast.tp.heartbeat",
                        R"({"type":"PING"})"};

} // namespace

TEST(CastProtocol, EncodesExactBytes)
{
    const QByteArray ns = "urn:x-cast:com.google.cast.tp.connection";
    const QByteArray connect = hex("00000058 0800 1208") + "sender-0" + hex("1a0a") + "receiver-0" +
                               hex("2228") + ns + hex("2800 3212") + R"({"type":"CONNECT"})";
    EXPECT_EQ(CastProtocol::encode("sender-0", "receiver-0", ns, R"({"type":"CONNECT"})").toHex(' '),
              connect.toHex(' '));
    EXPECT_EQ(CastProtocol::encode({}, {}, {}, {}).toHex(), "0000000c080012001a00220028003200");
    // Lengths are UTF-8 byte counts written as varints.
    EXPECT_EQ(CastProtocol::encode("s", "d", "n", QString(200, u'x')).right(203).left(3).toHex(), "32c801");
    EXPECT_EQ(CastProtocol::encode(u"é𝄞"_s, {}, {}, {}).mid(6, 8).toHex(), "1206" + QByteArray("é𝄞").toHex());
    for (const auto &[value, varint] :
         {std::pair{0ull, "00"}, {127ull, "7f"}, {128ull, "8001"}, {~0ull, "ffffffffffffffffff01"}}) {
        QByteArray out = "x";
        CastProtocol::appendVarint(value, out);
        EXPECT_EQ(out.mid(1).toHex(), varint) << value;
    }
}

TEST(CastProtocol, DecodeToleratesEveryDeviation)
{
    const std::tuple<const char *, QByteArray, Message> rows[] = {
        {"unknown varint, length, fixed32/64 fields around the used ones",
         hex("0807 2801 3a03010203 4a026869 6d01020304 710102030405060708 58ffffffffffffffffff01") +
             body(reference) + hex("3a00 2805"),
         reference},
        {"later fields win", body({"a", "b", "c", "1st"}) + body({"", "", "", "2nd"}), {"", "", "", "2nd"}},
        {"cut inside a value", body({"s", "d", "n", "0123456789"}).chopped(4), {"s", "d", "n", "012345"}},
        {"cut inside a fixed64", hex("1201") + "s" + hex("0901020304"), {"s", "", "", ""}},
        {"length beyond the body", hex("32ffffffff0f") + "abc", {"", "", "", "abc"}},
        {"group start ends decoding", hex("1201") + "s" + hex("23 3203") + "abc", {"s", "", "", ""}},
        {"invalid UTF-8 is repaired",
         hex("1201ff 1a02") + "ok" + hex("3207 61c32862eda080"),
         {u"\uFFFD"_s, "ok", "", u"a\uFFFD(b\uFFFD\uFFFD\uFFFD"_s}},
    };
    for (const auto &[what, bytes, expected] : rows)
        EXPECT_EQ(CastProtocol::decode(bytes), expected) << what;
}

// Random messages through encode and decode are the fuzz target's; here, a stream
// with an empty body in it, cut so that every length prefix is split.
TEST(CastFrameReader, AStreamCutIntoTinyPiecesGivesBackEveryFrame)
{
    const std::vector<Message> messages{reference, {}, {u"é𝄞"_s, "d", "n", QString(300, u'x')}, reference};
    QByteArray stream;
    for (const Message &m : messages)
        stream += m == Message{} ? QByteArray(4, 0)
                                 : CastProtocol::encode(m.source, m.destination, m.namespace_, m.payload);
    CastFrameReader reader;
    std::vector<Message> seen;
    for (qsizetype pos = 0; pos < stream.size(); pos += 1 + pos % 3) {
        reader.append(QByteArrayView(stream).sliced(pos, qMin<qsizetype>(stream.size() - pos, 1 + pos % 3)));
        while (auto frame = reader.takeFrame())
            seen.push_back(CastProtocol::decode(*frame));
    }
    EXPECT_EQ(seen, messages);
}

TEST(CastFrameReader, OversizedLengthOverflowsWithoutBuffering)
{
    CastFrameReader reader(16);
    reader.append(hex("00000010") + QByteArray(16, 'x') + hex("00000011") + QByteArray(17, 'x'));
    EXPECT_EQ(reader.takeFrame(), QByteArray(16, 'x'));
    EXPECT_EQ(reader.takeFrame(), std::nullopt);
    EXPECT_TRUE(reader.overflowed());
    EXPECT_EQ(reader.buffered(), 0);
}
