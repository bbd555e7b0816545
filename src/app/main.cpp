#include "engine/AppDelegate.h"
#include "engine/QuitOnSignals.h"
#include "model/Preferences.h"
#include "ui/SingleInstance.h"
#include "ui/TrayScene.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Pealix"));
    QApplication::setApplicationName(QStringLiteral("Pealix"));
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
