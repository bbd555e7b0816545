#pragma once

#include <QString>

namespace pealix {

// Orders texts by Unicode code points, case-sensitive and locale-free. Plain
// QString comparison orders UTF-16 units, which puts characters above U+FFFF
// before U+E000..U+FFFF; this one does not.
int compareCodePoints(const QString &a, const QString &b);

inline bool codePointLess(const QString &a, const QString &b)
{
    return compareCodePoints(a, b) < 0;
}

} // namespace pealix
