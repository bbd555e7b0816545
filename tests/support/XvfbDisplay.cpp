#include "support/XvfbDisplay.h"

#include <QFile>
#include <QtGlobal>

namespace pealix::test {

QByteArray xvfbDisplay(QString *reason)
{
    const QString state = qEnvironmentVariable("PEALIX_XVFB_STATE");
    if (state.isEmpty()) {
        if (reason)
            *reason = QStringLiteral("PEALIX_XVFB_STATE is not set: run this test through ctest");
        return {};
    }
    QFile file(state + QStringLiteral("/display"));
    if (!file.open(QIODevice::ReadOnly)) {
        if (reason)
            *reason = QStringLiteral("no Xvfb was started (is the xvfb package installed?)");
        return {};
    }
    const QByteArray display = file.readAll().trimmed();
    if (!display.startsWith(':') && reason)
        *reason = QStringLiteral("the Xvfb state file names no display");
    return display.startsWith(':') ? display : QByteArray();
}

} // namespace pealix::test
