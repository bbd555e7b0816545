// Test entry point: a Qt application object (so queued signals, timers and
// QCoro::waitFor work) and per-user locations inside a throw-away folder, so no
// test ever reads or writes the real user's settings or messages.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <QtGlobal>
#include <gtest/gtest.h>

#ifdef PEALIX_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/pealix-test-home-XXXXXX"));
    if (!home.isValid()) {
        fprintf(stderr, "cannot create a temporary home folder\n");
        return 2;
    }
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
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
    return RUN_ALL_TESTS();
}
