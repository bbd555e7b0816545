#include "house/devices/TlsMaterial.h"

#include <QFile>
#include <QProcess>

namespace pealix::house {

using namespace Qt::StringLiterals;

TlsMaterial TlsMaterial::throwAway(const QString &commonName)
{
    QProcess openssl;
    // Key and certificate both to standard output, one PEM block after the other.
    openssl.start(u"openssl"_s,
                  {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                   u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-days"_s, u"2"_s, u"-subj"_s,
                   u"/CN="_s + commonName, u"-keyout"_s, u"/dev/stdout"_s, u"-out"_s, u"/dev/stdout"_s});
    openssl.closeWriteChannel();
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0)
        return TlsMaterial();
    const QByteArray pem = openssl.readAllStandardOutput();
    TlsMaterial made;
    made.certificate = QSslCertificate(pem, QSsl::Pem);
    made.key = QSslKey(pem, QSsl::Ec, QSsl::Pem);
    return made;
}

TlsMaterial TlsMaterial::fromFiles(const QString &certificatePath, const QString &keyPath)
{
    QFile certificate(certificatePath), key(keyPath);
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
        return TlsMaterial();
    TlsMaterial read;
    read.certificate = QSslCertificate(certificate.readAll(), QSsl::Pem);
    read.key = QSslKey(key.readAll(), QSsl::Ec, QSsl::Pem);
    return read;
}

} // namespace pealix::house
