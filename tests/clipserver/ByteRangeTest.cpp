#include "clipserver/ByteRange.h"

#include <QString>
#include <gtest/gtest.h>

// The common ranges are checked byte for byte over a socket in ClipServerTest;
// these are the corners that are easier to reach without one.
namespace pealix {
namespace {

TEST(ByteRange, CornersOfTheRangeHeader)
{
    constexpr ByteRange whole{0, 999, false, false};
    const std::pair<const char *, ByteRange> rows[] = {
        {"Range: bytes = 5\t-\t9 ", {5, 9, true, false}},
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
        {"Range: bytes=-0", whole},
        {"Range: bytes=0x10-", whole},
        {"Range: bytes=9223372036854775808-", whole}, // one past 64 bits
        {"Range: bytes=٣-", whole},                   // a non-ASCII digit
    };
    for (const auto &[line, expected] : rows)
        EXPECT_EQ(parseRange(QString::fromUtf8(line), 1000), expected) << line;
    // An empty clip has no end to start beyond.
    EXPECT_EQ(parseRange(u"Range: bytes=5-", 0), (ByteRange{0, 0, true, false}));
}

} // namespace
} // namespace pealix
