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
    // curl and ffmpeg both honour proxy variables; the clip must come straight from loopback.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : {u"http_proxy"_s, u"HTTP_PROXY"_s, u"all_proxy"_s, u"ALL_PROXY"_s})
        environment.remove(name);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    // An unfinished process is killed when `process` goes.
    const bool finished = process.waitForStarted() && co_await qCoro(process).waitForFinished(30000);
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
        PEALIX_REQUIRE(havePrograms({u"curl"_s, u"ffmpeg"_s}, &missing), "missing " + missing.toStdString());
        // Three seconds of mono AAC with the index at the end, so a player
        // reading it over HTTP has to seek with byte ranges.
        m_source = m_dir.filePath(u"source.m4a"_s);
        const ProcessResult made = run(u"ffmpeg"_s, {"-v", "error", "-f", "lavfi", "-i", "sine=duration=3", "-ac",
                                                     "1", "-c:a", "aac", "-y", m_source});
        ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
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
    const QString bodyFile = m_dir.filePath(u"body"_s);
    const auto span = [n](qsizetype first, qsizetype last) {
        return QByteArray::number(first) + '-' + QByteArray::number(last) + '/' + QByteArray::number(n);
    };
    struct Row
    {
        QStringList options;
        QByteArray range;
        qsizetype from;
        qsizetype length;
    };
    const Row rows[] = {
        {{"-I"}, {}, 0, n},
        {{"-r", "0-1"}, span(0, 1), 0, 2},
        {{"-r", "-500"}, span(n - 500, n - 1), n - 500, 500},
        {{}, {}, 0, n},
    };
    for (const auto &[options, range, from, length] : rows) {
        // No configuration file, no proxy; headers to stdout, a body to the file.
        const ProcessResult got = run(u"curl"_s, QStringList{"-q", "-sS", "--noproxy", "*", "-D", "-", "-o", bodyFile}
                                                     + options + QStringList{m_url});
        ASSERT_EQ(got.exitCode, 0) << got.err.toStdString();
        EXPECT_EQ(got.out, header(length, range));
        QFile body(bodyFile);
        if (!options.contains(u"-I"_s)) {
            EXPECT_TRUE(body.open(QIODevice::ReadOnly) && body.readAll() == m_clip.mid(from, length)) << range.data();
        }
    }
}

TEST_F(RealClientTest, FfmpegDecodesTheClipFromTheUrl)
{
    // Decoding over HTTP must give exactly the audio decoded from the file itself.
    const auto decode = [](const QString &input) {
        return run(u"ffmpeg"_s, {"-v", "error", "-i", input, "-f", "md5", "-"});
    };
    const ProcessResult overHttp = decode(m_url);
    const ProcessResult local = decode(m_source);
    ASSERT_EQ(overHttp.exitCode, 0) << overHttp.err.toStdString();
    ASSERT_EQ(local.exitCode, 0) << local.err.toStdString();
    EXPECT_TRUE(overHttp.out.startsWith("MD5="));
    EXPECT_EQ(overHttp.out, local.out);
}

} // namespace
} // namespace pealix::test
