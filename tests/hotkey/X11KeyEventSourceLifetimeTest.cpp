// The X11 source when there is no X server to watch, or it goes away.
#include "X11TestKeyboard.h"
#include "engine/HotkeyManager.h"
#include "engine/x11/X11KeyEventSource.h"
#include "model/HotkeyConfig.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace pealix;
using namespace std::chrono_literals;

namespace {

bool runFixture(const QString &action, const QString &state)
{
    QProcess script;
    script.setProcessChannelMode(QProcess::ForwardedChannels);
    script.start(QStringLiteral(PEALIX_XVFB_SCRIPT), {action, state});
    return script.waitForFinished(30000) && script.exitStatus() == QProcess::NormalExit &&
           script.exitCode() == 0;
}

TEST(X11KeyEventSourceLifetime, WithoutAnXServerNothingIsInstalledAndTheReasonIsGiven)
{
    // No server listens on this local socket.
    auto source = std::make_unique<X11KeyEventSource>("unix:65123");
    X11KeyEventSource *x11 = source.get();
    std::vector<std::unique_ptr<KeyEventSource>> sources;
    sources.push_back(std::move(source));
    HotkeyManager manager(HotkeyConfig::defaultChord(), std::move(sources));

    manager.start();
    EXPECT_FALSE(x11->isActive());
    EXPECT_FALSE(manager.isMonitoring());
    EXPECT_TRUE(manager.monitoringProblem().contains(QStringLiteral("X display")))
        << manager.monitoringProblem().toStdString();
    manager.stop();
}

TEST(X11KeyEventSourceLifetime, LosingTheServerEndsTheSourceNotTheProcess)
{
    PEALIX_REQUIRE(test::havePrograms({QStringLiteral("Xvfb")}), "Xvfb is not installed");
    QTemporaryDir state;
    ASSERT_TRUE(state.isValid());
    const QString stateDir = state.path() + QStringLiteral("/xvfb");
    ASSERT_TRUE(runFixture(QStringLiteral("start"), stateDir));
    QFile displayFile(stateDir + QStringLiteral("/display"));
    ASSERT_TRUE(displayFile.open(QIODevice::ReadOnly));
    const QByteArray display = displayFile.readAll().trimmed();

    X11KeyEventSource source(display);
    const bool started = source.start();
    const bool stopped = runFixture(QStringLiteral("stop"), stateDir);
    ASSERT_TRUE(started);
    ASSERT_TRUE(stopped);

    QDeadlineTimer deadline(10s);
    QTimer wake;
    wake.start(25ms);
    while (source.isActive() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_FALSE(source.isActive());
    EXPECT_FALSE(source.problem().isEmpty());
    // And it can be asked again later without harm.
    EXPECT_FALSE(source.start());
}

} // namespace
