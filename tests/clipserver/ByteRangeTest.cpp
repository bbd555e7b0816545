#include "clipserver/ByteRange.h"
#include "clipserver/ClipResponse.h"

#include <QString>
#include <gtest/gtest.h>

// The common ranges are checked byte for byte over a socket in ClipServerTest;
// these are the corners that are easier to reach without one.
namespace pealix {
namespace {

TEST(ByteRange, CornersOfTheRangeHeader)
{
    constexpr ByteRange whole{0, 999, false, false};
    struct Row
    {
        const char *line;
        ByteRange expected;
    };
    const Row rows[] = {
        {"Range: bytes = 5 - 9 ", {5, 9, true, false}},
        {"Range: bytes=\t7-\t8", {7, 8, true, false}},
        {"RANGE: items=10-19", {10, 19, true, false}},
        {"Range: bytes=+5-", {5, 999, true, false}},
        {"Range: bytes=5--3", {5, 5, true, false}},
        {"Range: bytes=0-1,5-9", {0, 999, true, false}},
        {"Range: bytes=0-9223372036854775807", {0, 999, true, false}},
        {"Range: bytes=-9223372036854775807", {0, 999, true, false}},
        {"Range: bytes=9223372036854775807-", {0, 0, false, true}},
        // Anything not understood gives the whole clip.
        {"", whole},
        {"Range : bytes=0-1", whole},
        {"Range: bytes 0-1", whole},
        {"Range: bytes=abc-10", whole},
        {"Range: bytes=-0", whole},
        {"Range: bytes=--5", whole},
        {"Range: bytes=-", whole},
        {"Range: bytes=0x10-", whole},
        {"Range: bytes=+-1-", whole},
        {"Range: bytes=9223372036854775808-", whole}, // one past 64 bits
        {"Range: bytes=-99999999999999999999", whole},
        {"Range: bytes=٣-", whole}, // a non-ASCII digit
    };
    for (const Row &row : rows) {
        const ByteRange got = parseRange(QString::fromUtf8(row.line), 1000);
        if (row.expected.isUnsatisfiable)
            EXPECT_TRUE(got.isUnsatisfiable) << row.line;
        else
            EXPECT_EQ(got, row.expected) << row.line;
    }
    // An empty clip has no end to start beyond.
    EXPECT_EQ(parseRange(u"Range: bytes=5-", 0), (ByteRange{0, 0, true, false}));
}

TEST(ClipResponse, FirstRangeLineWinsAndBadBytesStayInTheirLine)
{
    const ClipResponse twice =
        buildClipResponse("GET / HTTP/1.1\r\nrange:bytes=3-4\r\nRange: bytes=0-", 1000);
    EXPECT_EQ(twice.bodyStart, 3);
    EXPECT_EQ(twice.bodyLength, 2);
    const ClipResponse invalid =
        buildClipResponse("GET /\xff\xfe HTTP/1.1\r\nX: \xc3\r\nRange: bytes=-10", 1000);
    EXPECT_EQ(invalid.bodyStart, 990);
    EXPECT_EQ(invalid.bodyLength, 10);
}

} // namespace
} // namespace pealix
