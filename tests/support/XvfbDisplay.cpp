#include "support/XvfbDisplay.h"

#include <QFile>

namespace pealix::test {

QByteArray xvfbDisplay(QString *reason)
{
    QFile file(qEnvironmentVariable("PEALIX_XVFB_STATE") + QStringLiteral("/display"));
    const QByteArray display = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    if (display.startsWith(':'))
        return display;
    *reason = QStringLiteral("no Xvfb display in $PEALIX_XVFB_STATE (run through ctest; is xvfb installed?)");
    return {};
}

} // namespace pealix::test
