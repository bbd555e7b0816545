#include "engine/AppDelegate.h"
#include "engine/QuitOnSignals.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Pealix"));
    QApplication::setApplicationName(QStringLiteral("Pealix"));
    QApplication::setQuitOnLastWindowClosed(false);

    pealix::QuitOnSignals quitOnSignals;
    pealix::AppDelegate delegate;
    delegate.launch();

    return QApplication::exec();
}
