#include "engine/AppDelegate.h"
#include "engine/QuitOnSignals.h"
#include "model/Preferences.h"
#include "ui/CommandLine.h"
#include "ui/SingleInstance.h"
#include "ui/TrayScene.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // --help, --version and --talk answer without a display.
    if (const std::optional<int> status = pealix::CommandLine::runBeforeApplication(argc, argv))
        return *status;
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Pealix"));
    QApplication::setApplicationName(QStringLiteral("Pealix"));
    // Windows belong to the installed desktop entry (its name and icon).
    QApplication::setDesktopFileName(QStringLiteral("org.pealix.Pealix"));
    pealix::CommandLine::checkArguments(app);
    QApplication::setQuitOnLastWindowClosed(false);

    pealix::QuitOnSignals quitOnSignals;
    // One Pealix per session: a second start brings the first one's panel forward.
    pealix::SingleInstance instance;
    if (!instance.claim())
        return pealix::SingleInstance::send(instance.socketPath(), QStringLiteral("show")) ? 0 : 1;

    pealix::AppDelegate delegate;
    pealix::TrayScene scene(&delegate.speakers(), &delegate.messages(), &delegate.broadcaster(), &delegate.hotkey(),
                            pealix::Preferences::shared());
    scene.listenTo(&instance);
    QObject::connect(&scene, &pealix::TrayScene::quitRequested, &app, &QApplication::quit);
    delegate.launch();
    scene.start();

    return QApplication::exec();
}
