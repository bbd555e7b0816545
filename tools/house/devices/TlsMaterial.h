#pragma once

#include <QSslCertificate>
#include <QSslKey>
#include <QString>

namespace pealix::house {

// A device's certificate and key. Cast devices present self-signed ones, so a
// throw-away pair made with openssl (an EC key: milliseconds, unlike RSA) is
// what a sender meets in a real house too.
struct TlsMaterial
{
    QSslCertificate certificate;
    QSslKey key;

    bool isNull() const { return certificate.isNull() || key.isNull(); }

    // Made in memory, never written to disk; null when openssl failed.
    static TlsMaterial throwAway(const QString &commonName);
    static TlsMaterial fromFiles(const QString &certificatePath, const QString &keyPath);
};

} // namespace pealix::house
