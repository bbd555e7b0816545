#pragma once

#include "clipserver/ClipServer.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace pealix::test {

using namespace Qt::StringLiterals;

// A clip file and a started server publishing it.
class ClipServerFixture : public ::testing::Test
{
protected:
    // Bytes that differ from their neighbours, so any misplaced slice shows.
    static QByteArray patternBytes(qsizetype size)
    {
        QByteArray bytes(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = char((i * 7 + i / 251) % 251);
        return bytes;
    }

    // The full header of a 200 answer, or of a 206 one when `range` ("first-last/total") is given.
    static QByteArray header(qint64 length, const QByteArray &range = {})
    {
        return (range.isEmpty() ? "HTTP/1.1 200 OK\r\n"_ba
                                : "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + range + "\r\n") +
               "Content-Type: audio/mp4\r\nAccept-Ranges: bytes\r\nContent-Length: " +
               QByteArray::number(length) + "\r\nConnection: close\r\n\r\n";
    }

    // Starts a server on a file of `bytes` and returns its port (0, with a failure recorded, if it did not
    // start).
    quint16 serve(const QByteArray &bytes, std::chrono::milliseconds idleLimit = ClipServer::defaultIdleLimit)
    {
        m_clip = bytes;
        QFile file(m_dir.filePath(u"clip.m4a"_s));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush());
        m_server = std::make_unique<ClipServer>(idleLimit);
        const quint16 port = QCoro::waitFor(m_server->start(file.fileName()));
        EXPECT_NE(port, 0);
        return port;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ClipServer> m_server;
    QByteArray m_clip;
};

} // namespace pealix::test
