#include "ClipServerFixture.h"

#include "support/TestEnvironment.h"

#include <QCoro/QCoroProcess>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

namespace pealix::test {
namespace {

struct ProcessResult
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program while this thread's event loop keeps serving the clip.
QCoro::Task<ProcessResult> runAsync(QString program, QStringList arguments)
{
    QProcess process;
    // curl and ffmpeg both honour proxy variables; the clip must be fetched
    // straight from loopback, never through a proxy on the network.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        environment.remove(QString::fromLatin1(name));
    process.setProcessEnvironment(environment);
    ProcessResult result;
    if (!co_await qCoro(process).start(program, arguments))
        co_return result;
    if (!co_await qCoro(process).waitForFinished(30000)) {
        process.kill();
        co_await qCoro(process).waitForFinished(5000);
        co_return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    co_return result;
}

ProcessResult run(const QString &program, const QStringList &arguments)
{
    return QCoro::waitFor(runAsync(program, arguments));
}

class RealClientTest : public ClipServerFixture
{
protected:
    void SetUp() override
    {
        QString missing;
        PEALIX_REQUIRE(havePrograms({QStringLiteral("curl"), QStringLiteral("ffmpeg"), QStringLiteral("ffprobe")},
                                    &missing),
                       "missing " + missing.toStdString());
        // Three seconds of mono AAC with the index at the end, so a player
        // reading it over HTTP has to seek with byte ranges.
        m_source = m_dir.filePath(QStringLiteral("source.m4a"));
        const ProcessResult made = run(QStringLiteral("ffmpeg"),
                                       {"-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=3", "-ac",
                                        "1", "-ar", "44100", "-c:a", "aac", "-b:a", "96k", "-y", m_source});
        ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
        QFile file(m_source);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        m_port = serve(file.readAll());
        m_url = QStringLiteral("http://127.0.0.1:%1/clip.m4a").arg(m_port);
    }

    // curl with no configuration file and no proxy; headers to stdout, body to a file.
    ProcessResult curl(const QStringList &extra, const QString &bodyFile)
    {
        QStringList arguments{"-q", "-sS", "--noproxy", "*", "-D", "-", "-o", bodyFile};
        return run(QStringLiteral("curl"), arguments + extra + QStringList{m_url});
    }

    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QString m_source;
    quint16 m_port = 0;
    QString m_url;
};

TEST_F(RealClientTest, CurlHeadProbeSuffixAndWholeGet)
{
    const QByteArray size = QByteArray::number(m_clip.size());
    const QString body = m_dir.filePath(QStringLiteral("body"));

    const ProcessResult head = run(QStringLiteral("curl"), {"-q", "-sS", "--noproxy", "*", "-I", m_url});
    ASSERT_EQ(head.exitCode, 0) << head.err.toStdString();
    EXPECT_TRUE(head.out.startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(head.out.contains("\r\nContent-Length: " + size + "\r\n"));
    EXPECT_TRUE(head.out.contains("\r\nContent-Type: audio/mp4\r\n"));
    EXPECT_TRUE(head.out.contains("\r\nAccept-Ranges: bytes\r\n"));

    const ProcessResult probe = curl({"-r", "0-1"}, body);
    ASSERT_EQ(probe.exitCode, 0) << probe.err.toStdString();
    EXPECT_TRUE(probe.out.startsWith("HTTP/1.1 206 Partial Content\r\n"));
    EXPECT_TRUE(probe.out.contains("\r\nContent-Range: bytes 0-1/" + size + "\r\n"));
    EXPECT_EQ(readFile(body), m_clip.left(2));

    const ProcessResult suffix = curl({"-r", "-500"}, body);
    ASSERT_EQ(suffix.exitCode, 0) << suffix.err.toStdString();
    EXPECT_TRUE(suffix.out.contains("\r\nContent-Range: bytes " + QByteArray::number(m_clip.size() - 500) + "-"
                                    + QByteArray::number(m_clip.size() - 1) + "/" + size + "\r\n"));
    EXPECT_EQ(readFile(body), m_clip.right(500));

    const ProcessResult whole = curl({}, body);
    ASSERT_EQ(whole.exitCode, 0) << whole.err.toStdString();
    EXPECT_TRUE(whole.out.startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(readFile(body), m_clip);
}

TEST_F(RealClientTest, FfmpegDecodesTheClipFromTheUrl)
{
    const ProcessResult streams =
        run(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "stream=codec_name,channels,sample_rate",
                                        "-of", "default=noprint_wrappers=1", m_url});
    ASSERT_EQ(streams.exitCode, 0) << streams.err.toStdString();
    EXPECT_TRUE(streams.out.contains("codec_name=aac"));
    EXPECT_TRUE(streams.out.contains("channels=1"));
    EXPECT_TRUE(streams.out.contains("sample_rate=44100"));

    // Decoding over HTTP must give exactly the audio decoded from the file itself.
    const QStringList md5Output{"-f", "md5", "-"};
    const ProcessResult overHttp = run(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-i", m_url} + md5Output);
    const ProcessResult local = run(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-i", m_source} + md5Output);
    ASSERT_EQ(overHttp.exitCode, 0) << overHttp.err.toStdString();
    ASSERT_EQ(local.exitCode, 0) << local.err.toStdString();
    EXPECT_TRUE(overHttp.out.startsWith("MD5="));
    EXPECT_EQ(overHttp.out, local.out);
}

} // namespace
} // namespace pealix::test
