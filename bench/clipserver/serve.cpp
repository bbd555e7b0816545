// Publishes one file with ClipServer until killed, printing the port on the
// first line of standard output so a driving script can find it.
#include "clipserver/ClipServer.h"
#include "clipserver/ClipServerError.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

QCoro::Task<> serve(pealix::ClipServer *server, QString path)
{
    try {
        const quint16 port = co_await server->start(path);
        std::printf("%u\n", unsigned(port));
        std::fflush(stdout);
    } catch (const pealix::ClipServerError &error) {
        std::fprintf(stderr, "clipserver_serve: %s\n", qPrintable(error.description()));
        QCoreApplication::exit(1);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: clipserver_serve FILE\n");
        return 2;
    }
    pealix::ClipServer server;
    serve(&server, QString::fromLocal8Bit(argv[1]));
    return app.exec();
}
