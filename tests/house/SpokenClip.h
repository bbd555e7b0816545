#pragma once

#include <QString>

namespace pealix::test {

// Writes `text`, spoken by espeak-ng and encoded by the application's own
// encoder, to `path` as a clip like the ones Pealix records. False with the
// reason when espeak-ng is missing or says nothing usable.
bool writeSpokenClip(const QString &text, const QString &path, QString *problem);

} // namespace pealix::test
