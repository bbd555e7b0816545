#include "support/TlsTestCertificate.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace pealix::test {

namespace {

QString make(const QTemporaryDir &dir, TlsTestCertificate &result)
{
    const QString openssl = findProgram(QStringLiteral("openssl"));
    if (!dir.isValid() || openssl.isEmpty())
        return QStringLiteral("openssl or a temporary folder is missing");
    result.certificatePath = dir.filePath(QStringLiteral("device.crt"));
    result.keyPath = dir.filePath(QStringLiteral("device.key"));
    // An EC key: generated in milliseconds, unlike RSA.
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(openssl,
                  QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
                                 "-subj /CN=pealix-test-device")
                          .split(' ')
                      << QStringLiteral("-keyout") << result.keyPath << QStringLiteral("-out")
                      << result.certificatePath);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(process.readAll());
    QFile certificate(result.certificatePath);
    QFile key(result.keyPath);
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read the certificate made by openssl");
    result.certificate = QSslCertificate(certificate.readAll(), QSsl::Pem);
    result.key = QSslKey(key.readAll(), QSsl::Ec, QSsl::Pem);
    if (result.certificate.isNull() || result.key.isNull())
        return QStringLiteral("Qt cannot load the certificate or key made by openssl");
    return {};
}

} // namespace

const TlsTestCertificate &TlsTestCertificate::shared()
{
    static QTemporaryDir dir;
    static const TlsTestCertificate certificate = [] {
        TlsTestCertificate made;
        made.error = make(dir, made);
        return made;
    }();
    return certificate;
}

} // namespace pealix::test
