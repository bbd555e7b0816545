#include "support/TestEnvironment.h"

#include <QStandardPaths>

namespace pealix::test {

bool runningUnderCi()
{
    const QByteArray ci = qgetenv("CI").trimmed().toLower();
    return ci == "true" || ci == "1";
}

QString findProgram(const QString &name)
{
    return QStandardPaths::findExecutable(name);
}

bool havePrograms(const QStringList &names, QString *missing)
{
    QStringList absent;
    for (const QString &name : names) {
        if (findProgram(name).isEmpty())
            absent << name;
    }
    if (missing)
        *missing = absent.join(QLatin1String(", "));
    return absent.isEmpty();
}

} // namespace pealix::test
