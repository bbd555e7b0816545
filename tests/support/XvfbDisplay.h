#pragma once

#include <QByteArray>
#include <QString>

namespace pealix::test {

// The display of the private Xvfb that a CTest fixture started (its state
// folder is named by PEALIX_XVFB_STATE), or empty with `reason` filled in.
QByteArray xvfbDisplay(QString *reason);

} // namespace pealix::test
