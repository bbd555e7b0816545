#pragma once

class QNetworkAccessManager;

namespace pealix::net {

// The one HTTP client of the application (SOAP requests, device descriptions).
// Made on first use as a child of the application object, so it lives on the
// main thread's event loop; call it from the main thread only. It never uses a
// proxy.
QNetworkAccessManager &sharedNetworkAccess();

} // namespace pealix::net
