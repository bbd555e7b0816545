#pragma once

#include <QSslCertificate>
#include <QSslKey>
#include <QString>

namespace pealix::test {

// A throw-away self-signed certificate and key for loopback TLS servers, made
// once per test process with the openssl command line and kept in a temporary
// folder until the process ends.
struct TlsTestCertificate
{
    QString certificatePath;
    QString keyPath;
    QSslCertificate certificate;
    QSslKey key;
    QString error; // empty when the pair is usable

    bool isValid() const { return error.isEmpty(); }

    static const TlsTestCertificate &shared();
};

} // namespace pealix::test
