#include "clipserver/ByteRange.h"
#include "clipserver/ClipResponse.h"

#include <QString>
#include <gtest/gtest.h>

// The common ranges are checked byte for byte over a socket in ClipServerTest;
// these are the corners that are easier to reach without one.
namespace pealix {
namespace {

constexpr ByteRange whole1000{0, 999, false, false};

ByteRange partial(qint64 start, qint64 end)
{
    return {start, end, true, false};
}

TEST(ByteRange, SpacingSignsUnitsAndHugeValues)
{
    EXPECT_EQ(parseRange(u"Range: bytes = 5 - 9 ", 1000), partial(5, 9));
    EXPECT_EQ(parseRange(u"Range: bytes=\t7-\t8", 1000), partial(7, 8));
    EXPECT_EQ(parseRange(u"RANGE: items=10-19", 1000), partial(10, 19));
    EXPECT_EQ(parseRange(u"Range: bytes=+5-", 1000), partial(5, 999));
    EXPECT_EQ(parseRange(u"Range: bytes=5--3", 1000), partial(5, 5));
    EXPECT_EQ(parseRange(u"Range: bytes=0-1,5-9", 1000), partial(0, 999));
    EXPECT_EQ(parseRange(u"Range: bytes=0-9223372036854775807", 1000), partial(0, 999));
    EXPECT_EQ(parseRange(u"Range: bytes=-9223372036854775807", 1000), partial(0, 999));
    EXPECT_TRUE(parseRange(u"Range: bytes=9223372036854775807-", 1000).isUnsatisfiable);
    // An empty clip has no end to start beyond.
    EXPECT_EQ(parseRange(u"Range: bytes=5-", 0), partial(0, 0));
}

TEST(ByteRange, AnythingNotUnderstoodGivesTheWholeClip)
{
    const char *lines[] = {
        "",
        "Range : bytes=0-1",
        "Range: bytes 0-1",
        "Range: bytes=abc-10",
        "Range: bytes=-0",
        "Range: bytes=--5",
        "Range: bytes=-",
        "Range: bytes=0x10-",
        "Range: bytes=+-1-",
        "Range: bytes=9223372036854775808-",  // one past 64 bits
        "Range: bytes=-99999999999999999999",
        "Range: bytes=٣-",  // a non-ASCII digit
    };
    for (const char *line : lines)
        EXPECT_EQ(parseRange(QString::fromUtf8(line), 1000), whole1000) << line;
}

TEST(ClipResponse, FirstRangeLineWinsAndBadBytesStayInTheirLine)
{
    const ClipResponse twice = buildClipResponse("GET / HTTP/1.1\r\nrange:bytes=3-4\r\nRange: bytes=0-", 1000);
    EXPECT_EQ(twice.bodyStart, 3);
    EXPECT_EQ(twice.bodyLength, 2);
    const ClipResponse invalid = buildClipResponse("GET /\xff\xfe HTTP/1.1\r\nX: \xc3\r\nRange: bytes=-10", 1000);
    EXPECT_EQ(invalid.bodyStart, 990);
    EXPECT_EQ(invalid.bodyLength, 10);
}

} // namespace
} // namespace pealix
