#include "ClipServerFixture.h"

#include "support/TestEnvironment.h"

#include <QCoro/QCoroProcess>
#include <QProcess>

namespace pealix::test {
namespace {

// Runs a program while this thread's event loop keeps serving the clip; its
// standard output when it exits with 0, nothing otherwise.
QCoro::Task<std::optional<QByteArray>> runAsync(QString program, QStringList arguments)
{
    QProcess process;
    // curl and ffmpeg both honour proxy variables; the clip must come straight from loopback.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : {u"http_proxy"_s, u"HTTP_PROXY"_s, u"all_proxy"_s, u"ALL_PROXY"_s})
        environment.remove(name);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel); // into the test log
    process.start(program, arguments);
    // An unfinished process is killed when `process` goes.
    if (!process.waitForStarted())
        co_return std::nullopt;
    const bool finished = co_await qCoro(process).waitForFinished(30000);
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        co_return std::nullopt;
    co_return process.readAllStandardOutput();
}

std::optional<QByteArray> run(const QString &program, const QStringList &arguments)
{
    return QCoro::waitFor(runAsync(program, arguments));
}

class RealClientTest : public ClipServerFixture
{
protected:
    void SetUp() override
    {
        QString missing;
        PEALIX_REQUIRE(havePrograms({u"curl"_s, u"ffmpeg"_s}, &missing), "missing " + missing.toStdString());
        // Three seconds of mono AAC with the index at the end, so a player
        // reading it over HTTP has to seek with byte ranges.
        m_source = m_dir.filePath(u"source.m4a"_s);
        ASSERT_TRUE(run(u"ffmpeg"_s, {"-v", "error", "-f", "lavfi", "-i", "sine=duration=3", "-ac", "1",
                                      "-c:a", "aac", "-y", m_source}));
        QFile file(m_source);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        m_url = u"http://127.0.0.1:%1/clip.m4a"_s.arg(serve(file.readAll()));
    }

    QString m_source;
    QString m_url;
};

TEST_F(RealClientTest, CurlHeadProbeSuffixAndWholeGet)
{
    const qsizetype n = m_clip.size();
    const QByteArray total = '/' + QByteArray::number(n);
    const std::pair<QStringList, QByteArray> rows[] = {
        {{"-I"}, header(n)},
        {{"-r", "0-1"}, header(2, "0-1" + total) + m_clip.left(2)},
        {{"-r", "-500"},
         header(500, QByteArray::number(n - 500) + '-' + QByteArray::number(n - 1) + total) +
             m_clip.right(500)},
        {{}, header(n) + m_clip},
    };
    // No configuration file and no proxy; the headers as received, then the body.
    for (const auto &[options, expected] : rows) {
        EXPECT_EQ(
            run(u"curl"_s, QStringList{"-q", "-sS", "--noproxy", "*", "-i"} + options + QStringList{m_url}),
            expected)
            << options.join(' ').toStdString();
    }
}

TEST_F(RealClientTest, FfmpegDecodesTheClipFromTheUrl)
{
    // Decoding over HTTP must give exactly the audio decoded from the file itself.
    const auto decode = [](const QString &input) {
        return run(u"ffmpeg"_s, {"-v", "error", "-i", input, "-f", "md5", "-"});
    };
    const std::optional<QByteArray> overHttp = decode(m_url);
    ASSERT_TRUE(overHttp && overHttp->startsWith("MD5="));
    EXPECT_EQ(overHttp, decode(m_source));
}

} // namespace
} // namespace pealix::test
