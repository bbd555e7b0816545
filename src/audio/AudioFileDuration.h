#pragma once

#include <QString>

#include <optional>

namespace pealix {

// The length in seconds that an audio file's container declares, or nothing
// when the file cannot be read as audio: missing, empty, not audio, or cut
// short so that the declared audio is not all there.
std::optional<double> audioFileDuration(const QString &path);

} // namespace pealix
