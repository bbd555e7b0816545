#pragma once

#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

namespace pealix::test {

// CI must never pass by skipping: it sets CI=true.
bool runningUnderCi();

// The full path of a program on PATH, or an empty string.
QString findProgram(const QString &name);

// True when every named program is on PATH; fills `missing` with the others.
bool havePrograms(const QStringList &names, QString *missing = nullptr);

} // namespace pealix::test

// Skips the current test with `reason` on a developer's machine, fails it under CI.
#define PEALIX_REQUIRE(condition, reason)                                                                    \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            if (::pealix::test::runningUnderCi())                                                            \
                FAIL() << "required for this test under CI: " << (reason);                                   \
            else                                                                                             \
                GTEST_SKIP() << (reason);                                                                    \
        }                                                                                                    \
    } while (0)
