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
    for (const char *name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        environment.remove(QString::fromLatin1(name));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForStarted())
        co_return {};
    // An unfinished process is killed when `process` goes.
    const bool finished = co_await qCoro(process).waitForFinished(30000);
    co_return {finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
               process.readAllStandardOutput(), process.readAllStandardError()};
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
        PEALIX_REQUIRE(
            havePrograms({QStringLiteral("curl"), QStringLiteral("ffmpeg"), QStringLiteral("ffprobe")},
                         &missing),
            "missing " + missing.toStdString());
        // Three seconds of mono AAC with the index at the end, so a player
        // reading it over HTTP has to seek with byte ranges.
        m_source = m_dir.filePath(QStringLiteral("source.m4a"));
        const ProcessResult made =
            run(QStringLiteral("ffmpeg"),
                {"-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=3", "-ac", "1", "-ar",
                 "44100", "-c:a", "aac", "-b:a", "96k", "-y", m_source});
        ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
        QFile file(m_source);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        m_url = QStringLiteral("http://127.0.0.1:%1/clip.m4a").arg(serve(file.readAll()));
    }

    QString m_source;
    QString m_url;
};

TEST_F(RealClientTest, CurlHeadProbeSuffixAndWholeGet)
{
    const QByteArray size = QByteArray::number(m_clip.size());
    const QString bodyFile = m_dir.filePath(QStringLiteral("body"));
    struct Row
    {
        QStringList options;
        QByteArray statusAndRange;
        QByteArray body;
        qsizetype length;
    };
    const Row rows[] = {
        {{"-I"}, "HTTP/1.1 200 OK\r\n", {}, m_clip.size()},
        {{"-r", "0-1", "-o", bodyFile},
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-1/" + size,
         m_clip.left(2),
         2},
        {{"-r", "-500", "-o", bodyFile},
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + QByteArray::number(m_clip.size() - 500) +
             "-" + QByteArray::number(m_clip.size() - 1) + "/" + size,
         m_clip.right(500),
         500},
        {{"-o", bodyFile}, "HTTP/1.1 200 OK\r\n", m_clip, m_clip.size()},
    };
    for (const Row &row : rows) {
        QFile::remove(bodyFile);
        // No configuration file, no proxy; headers to stdout, a body to the file.
        const ProcessResult got =
            run(QStringLiteral("curl"),
                QStringList{"-q", "-sS", "--noproxy", "*", "-D", "-"} + row.options + QStringList{m_url});
        const std::string what = row.options.join(' ').toStdString();
        ASSERT_EQ(got.exitCode, 0) << what << got.err.toStdString();
        EXPECT_TRUE(got.out.startsWith(row.statusAndRange)) << what << got.out.toStdString();
        EXPECT_TRUE(got.out.contains("\r\nContent-Type: audio/mp4\r\nAccept-Ranges: bytes\r\n")) << what;
        EXPECT_TRUE(got.out.contains("\r\nContent-Length: " + QByteArray::number(row.length) + "\r\n"))
            << what;
        QFile body(bodyFile);
        EXPECT_EQ(body.open(QIODevice::ReadOnly) ? body.readAll() : QByteArray(), row.body) << what;
    }
}

TEST_F(RealClientTest, FfmpegDecodesTheClipFromTheUrl)
{
    const ProcessResult streams = run(
        QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "stream=codec_name,channels,sample_rate",
                                    "-of", "default=noprint_wrappers=1", m_url});
    ASSERT_EQ(streams.exitCode, 0) << streams.err.toStdString();
    for (const char *entry : {"codec_name=aac", "channels=1", "sample_rate=44100"})
        EXPECT_TRUE(streams.out.contains(entry)) << entry;

    // Decoding over HTTP must give exactly the audio decoded from the file itself.
    const QStringList md5Output{"-f", "md5", "-"};
    const ProcessResult overHttp =
        run(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-i", m_url} + md5Output);
    const ProcessResult local =
        run(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-i", m_source} + md5Output);
    ASSERT_EQ(overHttp.exitCode, 0) << overHttp.err.toStdString();
    ASSERT_EQ(local.exitCode, 0) << local.err.toStdString();
    EXPECT_TRUE(overHttp.out.startsWith("MD5="));
    EXPECT_EQ(overHttp.out, local.out);
}

} // namespace
} // namespace pealix::test
