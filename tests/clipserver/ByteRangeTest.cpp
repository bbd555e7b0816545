#include "clipserver/ByteRange.h"
#include "clipserver/ClipResponse.h"

#include <QString>
#include <gtest/gtest.h>

namespace pealix {
namespace {

struct RangeCase
{
    const char *line;
    qint64 total;
    ByteRange expected;
};

constexpr ByteRange whole1000{0, 999, false, false};
constexpr ByteRange unsatisfiable{0, 0, false, true};

TEST(ByteRange, FirstByteAndSuffixForms)
{
    const RangeCase cases[] = {
        {"Range: bytes=0-", 1000, {0, 999, true, false}},
        {"Range: bytes=0-1", 1000, {0, 1, true, false}},
        {"Range: bytes=900-5000", 1000, {900, 999, true, false}},
        {"Range: bytes=100-50", 1000, {100, 100, true, false}},
        {"Range: bytes=999-999", 1000, {999, 999, true, false}},
        {"Range: bytes=-500", 1000, {500, 999, true, false}},
        {"Range: bytes=-2000", 1000, {0, 999, true, false}},
        {"Range: bytes=-1", 1000, {999, 999, true, false}},
        {"Range: bytes = 5 - 9 ", 1000, {5, 9, true, false}},
        {"Range: bytes=\t7-\t8", 1000, {7, 8, true, false}},
        {"range:bytes=10-19", 1000, {10, 19, true, false}},
        {"RANGE: bytes=10-19", 1000, {10, 19, true, false}},
        {"Range: items=0-9", 1000, {0, 9, true, false}},
        {"Range: bytes=+5-", 1000, {5, 999, true, false}},
    };
    for (const RangeCase &c : cases)
        EXPECT_EQ(parseRange(QString::fromLatin1(c.line), c.total), c.expected) << c.line;
}

TEST(ByteRange, StartAtOrPastTheEndIsUnsatisfiable)
{
    EXPECT_EQ(parseRange(u"Range: bytes=1000-", 1000), unsatisfiable);
    EXPECT_EQ(parseRange(u"Range: bytes=5000-6000", 1000), unsatisfiable);
    EXPECT_EQ(parseRange(u"Range: bytes=9223372036854775807-", 1000), unsatisfiable);
    // An empty clip has no end to be beyond.
    EXPECT_EQ(parseRange(u"Range: bytes=5-", 0), (ByteRange{0, 0, true, false}));
    EXPECT_EQ(parseRange(u"Range: bytes=0-", 0), (ByteRange{0, 0, true, false}));
}

TEST(ByteRange, AnythingNotUnderstoodGivesTheWholeClip)
{
    const char *lines[] = {
        "",
        " Range: bytes=0-1",     // a space before the name
        "Range : bytes=0-1",     // a space before the colon
        "Ranges: bytes=0-1",
        "Range: bytes 0-1",      // no "="
        "Range: bytes=abc-10",
        "Range: bytes=-0",
        "Range: bytes=--5",
        "Range: bytes=-abc",
        "Range: bytes=-",
        "Range: bytes=",
        "Range: bytes=0x10-",
        "Range: bytes=1e3-",
        "Range: bytes=99999999999999999999-",  // beyond 64 bits
        "Range: bytes=-99999999999999999999",
        "Range: bytes=٣-",  // a non-ASCII digit
        "Content-Length: 5",
    };
    for (const char *line : lines)
        EXPECT_EQ(parseRange(QString::fromUtf8(line), 1000), whole1000) << line;
}

TEST(ByteRange, ListsAndSignsInTheSecondPiece)
{
    // "1,5-9" is not an integer, so the first range runs to the end.
    EXPECT_EQ(parseRange(u"Range: bytes=0-1,5-9", 1000), (ByteRange{0, 999, true, false}));
    // A negative end cannot pull the end below the start.
    EXPECT_EQ(parseRange(u"Range: bytes=5--3", 1000), (ByteRange{5, 5, true, false}));
    // A negative start is clamped to the first byte.
    EXPECT_EQ(parseRange(u"Range: bytes=-5-10", 1000), whole1000);
    EXPECT_EQ(parseRange(u"Range: bytes=0-9223372036854775807", 1000), (ByteRange{0, 999, true, false}));
    EXPECT_EQ(parseRange(u"Range: bytes=-9223372036854775807", 1000), (ByteRange{0, 999, true, false}));
}

TEST(ByteRange, DecimalIntegerBounds)
{
    qint64 value = 0;
    EXPECT_TRUE(parseDecimalInteger(u"9223372036854775807", &value));
    EXPECT_EQ(value, std::numeric_limits<qint64>::max());
    EXPECT_TRUE(parseDecimalInteger(u"-9223372036854775808", &value));
    EXPECT_EQ(value, std::numeric_limits<qint64>::min());
    EXPECT_TRUE(parseDecimalInteger(u"+007", &value));
    EXPECT_EQ(value, 7);
    EXPECT_FALSE(parseDecimalInteger(u"9223372036854775808", &value));
    EXPECT_FALSE(parseDecimalInteger(u"-9223372036854775809", &value));
    EXPECT_FALSE(parseDecimalInteger(u"+", &value));
    EXPECT_FALSE(parseDecimalInteger(u"1 2", &value));
    EXPECT_FALSE(parseDecimalInteger(u"+-1", &value));
}

TEST(ClipResponse, HeadMatchesGetWithoutBody)
{
    const ClipResponse get = buildClipResponse("GET /clip.m4a HTTP/1.1\r\nRange: bytes=0-1", 1000);
    const ClipResponse head = buildClipResponse("head /clip.m4a HTTP/1.1\r\nRange: bytes=0-1", 1000);
    EXPECT_EQ(get.header, head.header);
    EXPECT_EQ(get.bodyStart, 0);
    EXPECT_EQ(get.bodyLength, 2);
    EXPECT_EQ(head.bodyLength, 0);
}

TEST(ClipResponse, LinesSplitOnlyAtCrLf)
{
    // With bare LF the Range text is part of the request line and is not honoured.
    const ClipResponse bare = buildClipResponse("GET / HTTP/1.1\nRange: bytes=0-1", 1000);
    EXPECT_TRUE(bare.header.startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(bare.bodyLength, 1000);
    // The first Range line wins.
    const ClipResponse twice = buildClipResponse("GET / HTTP/1.1\r\nrange:bytes=3-4\r\nRange: bytes=0-", 1000);
    EXPECT_EQ(twice.bodyStart, 3);
    EXPECT_EQ(twice.bodyLength, 2);
    // Invalid UTF-8 in another header leaves the Range header readable.
    const ClipResponse invalid = buildClipResponse("GET /\xff\xfe HTTP/1.1\r\nX: \xc3\r\nRange: bytes=-10", 1000);
    EXPECT_EQ(invalid.bodyStart, 990);
    EXPECT_EQ(invalid.bodyLength, 10);
}

} // namespace
} // namespace pealix
