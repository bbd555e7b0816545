// Test entry point: a Qt application object (so queued signals, timers and
// QCoro::waitFor work) and per-user locations inside a throw-away folder, so no
// test ever reads or writes the real user's settings or messages.
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtGlobal>
#include <cstdio>
#include <gtest/gtest.h>

#ifdef PEALIX_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

namespace {

// What a test leaves queued when it ends (a coroutine whose resumption waits on
// a zero timer, a reply or watcher queued for deletion, a D-Bus call answered
// after the test stopped listening) would otherwise still be alive at exit,
// and the leak checker of the sanitizer build would report it. Let it run to
// its end: deletions, then a short spell of the event loop, a few times over,
// since each round can queue the next.
void drainEventLoop()
{
    QEventLoop loop;
    for (const int spellMs : {50, 20, 10}) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTimer::singleShot(spellMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/pealix-test-home-XXXXXX"));
    if (!home.isValid()) {
        fprintf(stderr, "cannot create a temporary home folder\n");
        return 2;
    }
    for (const char *name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
        const QString dir = home.path() + QLatin1Char('/') + QLatin1String(name);
        QDir().mkpath(dir);
        // A runtime folder is private to its user; Qt insists on it.
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(name, dir.toUtf8());
    }
#ifdef PEALIX_TEST_GUI
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    ::testing::InitGoogleTest(&argc, argv);
    TestApplication app(argc, argv);
    TestApplication::setOrganizationName(QStringLiteral("Pealix"));
    TestApplication::setApplicationName(QStringLiteral("Pealix"));
    const int result = RUN_ALL_TESTS();
    drainEventLoop();
    return result;
}
