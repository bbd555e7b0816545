#pragma once

#include <QString>

namespace pealix {

enum class CopyResult { Copied, TargetExists, Failed };

// Copies `source` to `target` so that `target` either does not appear or appears
// whole: the bytes go to a hidden temporary file in the target's folder, are
// flushed to disk, and the file is then renamed into place without replacing
// anything already there.
CopyResult copyFileWithoutReplacing(const QString &source, const QString &target);

} // namespace pealix
