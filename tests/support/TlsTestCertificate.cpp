#include "support/TlsTestCertificate.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace pealix::test {

namespace {

TlsTestCertificate make(const QTemporaryDir &dir)
{
    TlsTestCertificate result;
    if (!dir.isValid()) {
        result.error = QStringLiteral("cannot create a temporary folder");
        return result;
    }
    const QString openssl = findProgram(QStringLiteral("openssl"));
    if (openssl.isEmpty()) {
        result.error = QStringLiteral("openssl is not installed");
        return result;
    }
    result.certificatePath = dir.filePath(QStringLiteral("device.crt"));
    result.keyPath = dir.filePath(QStringLiteral("device.key"));
    // An EC key: generated in milliseconds, unlike RSA.
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(openssl, {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                            QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                            QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                            QStringLiteral("/CN=pealix-test-device"), QStringLiteral("-keyout"),
                            result.keyPath, QStringLiteral("-out"), result.certificatePath});
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        result.error = QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(process.readAll());
        return result;
    }
    QFile certificate(result.certificatePath);
    QFile key(result.keyPath);
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("cannot read the certificate made by openssl");
        return result;
    }
    result.certificate = QSslCertificate(certificate.readAll(), QSsl::Pem);
    result.key = QSslKey(key.readAll(), QSsl::Ec, QSsl::Pem);
    if (result.certificate.isNull() || result.key.isNull())
        result.error = QStringLiteral("Qt cannot load the certificate or key made by openssl");
    return result;
}

} // namespace

const TlsTestCertificate &TlsTestCertificate::shared()
{
    static QTemporaryDir dir;
    static const TlsTestCertificate certificate = make(dir);
    return certificate;
}

} // namespace pealix::test
