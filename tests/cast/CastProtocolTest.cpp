#include "cast/CastProtocol.h"
#include "cast/CastFrameReader.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace pealix;
using CastProtocol::Message;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray bodyOf(const QByteArray &frame)
{
    return frame.mid(4);
}

// A hand-built body of the four string fields; `tail` lets a case add whatever it likes.
QByteArray body(const QByteArray &source, const QByteArray &destination, const QByteArray &ns,
                const QByteArray &payload)
{
    QByteArray out;
    for (auto [field, value] : {std::pair{2, source}, {3, destination}, {4, ns}, {6, payload}}) {
        out.append(char(field << 3 | 2));
        CastProtocol::appendVarint(quint64(value.size()), out);
        out.append(value);
    }
    return out;
}

const Message reference{"sender-0", "receiver-0", "urn:x-cast:com.google.cast.tp.heartbeat",
                        R"({"type":"PING"})"};

} // namespace

TEST(CastProtocolEncode, ConnectFrameHasTheExactBytes)
{
    const QByteArray ns = "urn:x-cast:com.google.cast.tp.connection";
    const QByteArray payload = R"({"type":"CONNECT"})";
    ASSERT_EQ(ns.size(), 40);
    ASSERT_EQ(payload.size(), 18);
    const QByteArray expected = hex("00000058") + hex("0800") + hex("1208") + "sender-0" + hex("1a0a") +
                                "receiver-0" + hex("2228") + ns + hex("2800") + hex("3212") + payload;

    const QByteArray frame =
        CastProtocol::encode("sender-0", "receiver-0", QString::fromLatin1(ns), QString::fromLatin1(payload));
    EXPECT_EQ(frame.toHex(' '), expected.toHex(' '));
    EXPECT_EQ(frame.size(), 4 + 88);
}

TEST(CastProtocolEncode, EmptyStringsStillWriteEveryField)
{
    EXPECT_EQ(CastProtocol::encode({}, {}, {}, {}).toHex(), "0000000c080012001a00220028003200");
}

TEST(CastProtocolEncode, LengthsAreUtf8ByteCountsAsVarints)
{
    const QByteArray frame = CastProtocol::encode("s", "d", "n", QString(200, QLatin1Char('x')));
    const QByteArray tail = frame.right(200 + 3);
    EXPECT_EQ(tail.left(3).toHex(), "32c801");

    // "é" is two bytes, "𝄞" four: the length counts bytes, not characters.
    const QByteArray multi = CastProtocol::encode(QStringLiteral("é𝄞"), {}, {}, {});
    EXPECT_EQ(multi.mid(6, 8).toHex(), "1206" + QByteArray("é𝄞").toHex());
}

TEST(CastProtocolEncode, VarintGroupsLeastSignificantFirst)
{
    const std::vector<std::pair<quint64, const char *>> cases = {{0, "00"},
                                                                 {1, "01"},
                                                                 {127, "7f"},
                                                                 {128, "8001"},
                                                                 {300, "ac02"},
                                                                 {16384, "808001"},
                                                                 {0xFFFFFFFFull, "ffffffff0f"},
                                                                 {~0ull, "ffffffffffffffffff01"}};
    for (const auto &[value, bytes] : cases) {
        QByteArray out = "x";
        CastProtocol::appendVarint(value, out);
        EXPECT_EQ(out.mid(1).toHex(), bytes) << value;
    }
    QByteArray field;
    CastProtocol::appendStringField(31, QStringLiteral("ab"), field);
    EXPECT_EQ(field.toHex(), "fa026162");
}

TEST(CastProtocolDecode, ReadsWhatEncodeWrites)
{
    const QByteArray frame = CastProtocol::encode(reference.source, reference.destination,
                                                  reference.namespace_, reference.payload);
    EXPECT_EQ(CastProtocol::decode(bodyOf(frame)), reference);
}

TEST(CastProtocolDecode, SkipsFieldsItDoesNotUse)
{
    const QByteArray plain =
        body("sender-0", "receiver-0", "urn:x-cast:com.google.cast.tp.heartbeat", R"({"type":"PING"})");
    // Non-zero version and payload type, a binary payload (field 7), an unknown
    // length-delimited field, fixed 32- and 64-bit fields and a long varint.
    QByteArray noisy = hex("0807") + hex("2801") + hex("3a03010203") + hex("4a026869") + hex("6d01020304") +
                       hex("710102030405060708") + hex("58ffffffffffffffffff01");
    noisy.append(plain);
    noisy.append(hex("3a00") + hex("2805"));
    EXPECT_EQ(CastProtocol::decode(noisy), reference);
}

TEST(CastProtocolDecode, LaterFieldReplacesEarlier)
{
    const QByteArray twice = body("a", "b", "c", "first") + body("", "", "", "second");
    const Message m = CastProtocol::decode(twice);
    EXPECT_EQ(m, (Message{"", "", "", "second"}));
}

TEST(CastProtocolDecode, TruncationKeepsWhatWasRead)
{
    const QByteArray full = body("src", "dst", "ns", "0123456789");
    // Cut inside field 6's value: the bytes that are present.
    EXPECT_EQ(CastProtocol::decode(full.left(full.size() - 4)), (Message{"src", "dst", "ns", "012345"}));
    // Cut inside a key varint and inside a length varint.
    EXPECT_EQ(CastProtocol::decode(body("src", "", "", "") + hex("80")), (Message{"src", "", "", ""}));
    EXPECT_EQ(CastProtocol::decode(body("src", "", "", "") + hex("3280")), (Message{"src", "", "", ""}));
    // Cut inside a skipped varint and inside fixed-width values.
    EXPECT_EQ(CastProtocol::decode(body("src", "", "", "") + hex("08ff")), (Message{"src", "", "", ""}));
    EXPECT_EQ(CastProtocol::decode(body("src", "", "", "") + hex("0901020304")),
              (Message{"src", "", "", ""}));
    EXPECT_EQ(CastProtocol::decode(body("src", "", "", "") + hex("0d0102")), (Message{"src", "", "", ""}));
    // A length far beyond the body takes what remains.
    EXPECT_EQ(CastProtocol::decode(hex("32ffffffff0f") + "abc"), (Message{"", "", "", "abc"}));
    EXPECT_EQ(CastProtocol::decode({}), Message{});
}

TEST(CastProtocolDecode, GroupWireTypeEndsDecoding)
{
    for (const char *key : {"23", "24", "26", "27"}) {
        const QByteArray bytes = body("src", "dst", "ns", "").chopped(2) + hex(key) + hex("3203") + "abc";
        EXPECT_EQ(CastProtocol::decode(bytes), (Message{"src", "dst", "ns", ""})) << key;
    }
}

TEST(CastProtocolDecode, InvalidUtf8BecomesReplacementCharacters)
{
    const QByteArray bytes = body(hex("ff"), "ok", "", QByteArray("a") + hex("c328") + "b" + hex("eda080"));
    const Message m = CastProtocol::decode(bytes);
    EXPECT_EQ(m.source, QString(QChar(0xFFFD)));
    EXPECT_EQ(m.destination, "ok");
    EXPECT_TRUE(m.payload.startsWith(QStringLiteral("a\uFFFD(b"))) << m.payload.toStdString();
    EXPECT_TRUE(m.payload.endsWith(QChar(0xFFFD)));
}

TEST(CastProtocolFuzz, RandomMessagesRoundTrip)
{
    std::mt19937 rng(20240501);
    auto randomString = [&rng] {
        QString s;
        const int length = std::uniform_int_distribution<int>(0, 300)(rng);
        for (int i = 0; i < length; ++i) {
            char32_t c = std::uniform_int_distribution<char32_t>(1, 0x10FFFF)(rng);
            if (c >= 0xD800 && c <= 0xDFFF)
                c = U'?';
            s.append(QString::fromUcs4(&c, 1));
        }
        return s;
    };
    for (int round = 0; round < 500; ++round) {
        const Message m{randomString(), randomString(), randomString(), randomString()};
        const QByteArray frame = CastProtocol::encode(m.source, m.destination, m.namespace_, m.payload);
        const quint32 declared = quint32(uchar(frame[0])) << 24 | quint32(uchar(frame[1])) << 16 |
                                 quint32(uchar(frame[2])) << 8 | uchar(frame[3]);
        ASSERT_EQ(qsizetype(declared), frame.size() - 4);
        ASSERT_EQ(CastProtocol::decode(bodyOf(frame)), m) << round;
    }
}

TEST(CastProtocolFuzz, GarbageAndCutBodiesDecodeWithoutHarm)
{
    std::mt19937 rng(7);
    const QByteArray valid = bodyOf(CastProtocol::encode(reference.source, reference.destination,
                                                         reference.namespace_, reference.payload));
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(std::uniform_int_distribution<int>(0, 64)(rng), Qt::Uninitialized);
        for (char &c : bytes)
            c = char(rng());
        (void)CastProtocol::decode(bytes);

        // Every prefix of a valid body yields prefixes of its fields.
        const Message cut = CastProtocol::decode(valid.left(round % (valid.size() + 1)));
        EXPECT_TRUE(reference.source.startsWith(cut.source));
        EXPECT_TRUE(reference.destination.startsWith(cut.destination));
        EXPECT_TRUE(reference.namespace_.startsWith(cut.namespace_));
        EXPECT_TRUE(reference.payload.startsWith(cut.payload));
    }
}

TEST(CastFrameReader, HoldsFramesUntilCompleteAndKeepsOrder)
{
    const QByteArray first = CastProtocol::encode("a", "b", "c", "one");
    const QByteArray second = CastProtocol::encode("a", "b", "c", "two");

    CastFrameReader reader;
    reader.append(first + second);
    EXPECT_EQ(reader.takeFrame(), bodyOf(first));
    EXPECT_EQ(reader.takeFrame(), bodyOf(second));
    EXPECT_EQ(reader.takeFrame(), std::nullopt);

    // Split inside the length prefix and inside the body.
    reader.append(first.left(2));
    EXPECT_EQ(reader.takeFrame(), std::nullopt);
    reader.append(first.mid(2, 7));
    EXPECT_EQ(reader.takeFrame(), std::nullopt);
    EXPECT_EQ(reader.buffered(), 9);
    reader.append(first.mid(9));
    EXPECT_EQ(reader.takeFrame(), bodyOf(first));
    EXPECT_EQ(reader.takeFrame(), std::nullopt);
    EXPECT_EQ(reader.buffered(), 0);

    reader.append(hex("00000000"));
    EXPECT_EQ(reader.takeFrame(), QByteArray());
}

TEST(CastFrameReader, RandomSplitsGiveTheSameFrames)
{
    std::mt19937 rng(99);
    std::vector<QByteArray> bodies;
    QByteArray stream;
    for (int i = 0; i < 200; ++i) {
        const QByteArray frame =
            CastProtocol::encode(QString::number(i), "d", "n", QString(int(rng() % 3000), QLatin1Char('p')));
        bodies.push_back(bodyOf(frame));
        stream.append(frame);
    }
    for (int round = 0; round < 20; ++round) {
        CastFrameReader reader;
        std::vector<QByteArray> seen;
        for (qsizetype pos = 0; pos < stream.size();) {
            const qsizetype chunk = qMin<qsizetype>(stream.size() - pos, 1 + rng() % 5000);
            reader.append(QByteArrayView(stream).sliced(pos, chunk));
            pos += chunk;
            while (auto frame = reader.takeFrame())
                seen.push_back(*frame);
        }
        ASSERT_EQ(seen, bodies) << round;
        EXPECT_EQ(reader.buffered(), 0);
    }
}

TEST(CastFrameReader, OversizedLengthOverflowsWithoutBuffering)
{
    CastFrameReader reader(16);
    reader.append(hex("00000010") + QByteArray(16, 'x'));
    EXPECT_EQ(reader.takeFrame(), QByteArray(16, 'x'));

    reader.append(hex("ffffffff") + "abc");
    EXPECT_EQ(reader.takeFrame(), std::nullopt);
    EXPECT_TRUE(reader.overflowed());
    EXPECT_EQ(reader.buffered(), 0);
    reader.append(CastProtocol::encode("a", "b", "c", "d"));
    EXPECT_EQ(reader.takeFrame(), std::nullopt);
    EXPECT_EQ(reader.buffered(), 0);

    CastFrameReader standard;
    standard.append(hex("00100001"));
    EXPECT_EQ(standard.takeFrame(), std::nullopt);
    EXPECT_TRUE(standard.overflowed());
}
