#pragma once

#include <QByteArrayView>

#include <optional>

namespace pealix::house {

// The length in seconds that an MPEG-4 file declares in its movie header
// ("moov" / "mvhd"), read the way a speaker reads it before playing: nothing
// when the bytes hold no such header, a header cut short, a zero time scale
// or an unknown duration. Never reads outside `file`.
std::optional<double> mp4Duration(QByteArrayView file);

} // namespace pealix::house
