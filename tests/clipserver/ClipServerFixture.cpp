#include "ClipServerFixture.h"

#include <QFile>

namespace pealix::test {

QByteArray ClipServerFixture::patternBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) % 251);
    return bytes;
}

QString ClipServerFixture::writeClip(const QByteArray &bytes, const QString &name)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    EXPECT_EQ(file.write(bytes), bytes.size());
    return path;
}

quint16 ClipServerFixture::serve(const QByteArray &bytes, std::chrono::milliseconds idleLimit)
{
    m_clip = bytes;
    m_server = std::make_unique<ClipServer>(idleLimit);
    const quint16 port = QCoro::waitFor(m_server->start(writeClip(bytes)));
    EXPECT_NE(port, 0);
    EXPECT_EQ(m_server->port(), port);
    return port;
}

} // namespace pealix::test
