#include "engine/QuitOnSignals.h"
#include "model/MessageStore.h"
#include "model/Preferences.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Pealix"));
    QApplication::setApplicationName(QStringLiteral("Pealix"));
    QApplication::setQuitOnLastWindowClosed(false);

    pealix::QuitOnSignals quitOnSignals;
    pealix::Preferences::shared();
    pealix::MessageStore messages;

    return QApplication::exec();
}
