#pragma once

#include <QString>

namespace pealix {

// The user's recordings and settings are nobody else's business: whatever the
// umask, what Pealix writes for the user is readable by the user alone.

// Creates `path` and any missing folders above it as 0700, and makes `path`
// itself 0700 if it already existed. False when it is not a folder afterwards.
bool makePrivateFolder(const QString &path);

// Makes an existing file 0600. False when that failed.
bool makePrivateFile(const QString &path);

// Creates `path` empty as 0600 if it does not exist yet, so that whoever writes
// it afterwards keeps those permissions; makes an existing one 0600.
bool preparePrivateFile(const QString &path);

} // namespace pealix
