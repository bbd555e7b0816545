#pragma once

#include "clipserver/ClipServer.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace pealix::test {

// A clip file of recognisable bytes and a started server publishing it.
class ClipServerFixture : public ::testing::Test
{
protected:
    // Bytes that differ from their neighbours, so any misplaced slice shows.
    static QByteArray patternBytes(qsizetype size);

    QString writeClip(const QByteArray &bytes, const QString &name = QStringLiteral("clip.m4a"));
    // Starts `server` on `bytes`; returns its port (0 on failure, with a test failure recorded).
    quint16 serve(const QByteArray &bytes, std::chrono::milliseconds idleLimit = ClipServer::defaultIdleLimit);

    QTemporaryDir m_dir;
    std::unique_ptr<ClipServer> m_server;
    QByteArray m_clip;
};

} // namespace pealix::test
