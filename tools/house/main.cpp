// pealix-house: a house of simulated Sonos players and Cast devices in network
// namespaces of its own, to try Pealix (or test it) without real speakers.
#include "house/House.h"
#include "house/HouseDescription.h"
#include "house/HouseLog.h"
#include "house/Relay.h"
#include "house/Sandbox.h"
#include "house/StopSignals.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstring>

using namespace pealix::house;
using namespace Qt::StringLiterals;

namespace {

constexpr int kBadUse = 2;
constexpr int kCannotRun = 77; // no namespaces or no daemons: what test runners take for "skipped"

struct Options
{
    QString house;
    QString json;
    bool check = false;
    bool speakers = false;
    QStringList command;
    int delayMs = 0;
};

void usage()
{
    fputs("usage: pealix-house HOUSE.json [--json FILE] [--delay MS] [--check] [-- COMMAND [ARGUMENT...]]\n"
          "  Starts the house described in HOUSE.json in network namespaces of its own and\n"
          "  prints what its devices do. With a COMMAND (for example Pealix) it runs that in\n"
          "  the namespace on the other side of the link and ends with it; without one it\n"
          "  runs until Ctrl+C.\n"
          "  --json FILE  also write every event as one JSON object per line to FILE\n"
          "  --check      only read HOUSE.json and say whether it describes a house\n"
          "  --delay MS   delay every frame between the two sides by MS milliseconds each\n"
          "               way, for benchmarks (the house carries them; it takes root)\n"
          "  --speakers   only print the id under which Pealix will know each room\n",
          stderr);
}

std::optional<Options> parse(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == u"--") {
            for (++i; i < argc; ++i)
                options.command << QString::fromLocal8Bit(argv[i]);
        } else if (argument == u"--json" && i + 1 < argc) {
            options.json = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == u"--delay" && i + 1 < argc) {
            bool ok = false;
            options.delayMs = QString::fromLocal8Bit(argv[++i]).toInt(&ok);
            if (!ok || options.delayMs < 1 || options.delayMs > 1000)
                return std::nullopt;
        } else if (argument == u"--check") {
            options.check = true;
        } else if (argument == u"--speakers") {
            options.speakers = true;
        } else if (!argument.startsWith(u'-') && options.house.isEmpty()) {
            options.house = argument;
        } else {
            return std::nullopt;
        }
    }
    if (options.house.isEmpty() || (options.command.isEmpty() && argc > 1 && !strcmp(argv[argc - 1], "--")))
        return std::nullopt;
    return options;
}

void fail(const QString &text)
{
    fprintf(stderr, "pealix-house: %s\n", qPrintable(text));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && !strcmp(argv[1], Sandbox::kRelayOption))
        return runRelay(argc, argv);
    const std::optional<Options> options = parse(argc, argv);
    if (!options) {
        usage();
        return kBadUse;
    }
    const HouseDescription::Parsed parsed = HouseDescription::load(options->house);
    if (!parsed.house) {
        fail(options->house + u": "_s + parsed.problem);
        return kBadUse;
    }
    if (options->speakers) {
        for (const RoomDescription &room : parsed.house->rooms)
            if (room.kind != RoomKind::Stranger)
                printf("%s\n", qPrintable(room.kind == RoomKind::Sonos ? u"sonos:"_s + House::sonosUuid(room)
                                                                       : u"cast:"_s + House::castId(room)));
        return 0;
    }
    if (options->check) {
        int sonos = 0, cast = 0, strangers = 0;
        for (const RoomDescription &room : parsed.house->rooms)
            (room.kind == RoomKind::Sonos ? sonos : room.kind == RoomKind::Cast ? cast : strangers) += 1;
        printf("%s: a house of %d Sonos player%s and %d Cast device%s%s\n", qPrintable(options->house), sonos,
               sonos == 1 ? "" : "s", cast, cast == 1 ? "" : "s",
               strangers ? qPrintable(u", and %1 stranger%2"_s.arg(strangers).arg(strangers == 1 ? "" : "s"))
                         : "");
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);

    // Namespaces first: a user namespace can only be made while the process
    // has a single thread, before Qt starts any.
    QString problem;
    std::unique_ptr<Sandbox> sandbox = Sandbox::enter(&problem);
    if (!sandbox) {
        fail(problem);
        return kCannotRun;
    }
    QCoreApplication app(argc, argv);
    HouseLog log;
    if (!options->json.isEmpty() && !log.openJson(options->json, &problem)) {
        fail(problem);
        return kBadUse;
    }
    House house(*parsed.house, *sandbox, log);
    house.setLinkDelay(std::chrono::milliseconds(options->delayMs));
    if (!house.start(&problem) ||
        (!options->command.isEmpty() && !house.runCommand(options->command, &problem))) {
        fail(problem);
        house.close();
        return 1;
    }
    int status = 0;
    StopSignals stop;
    QObject::connect(&stop, &StopSignals::requested, &app, [&app] { app.quit(); });
    QObject::connect(&house, &House::commandFinished, &app, [&app, &status](int code) {
        status = code;
        app.quit();
    });
    QCoreApplication::exec();
    house.close();
    return status;
}
