// broadcast-bench: how soon after the chord's release each speaker of the
// simulated house hears of the announcement, over a link whose every frame
// waits --delay ms each way, beside the least the protocols allow.
//
// Two ways of sending are measured. "recorded": the chord is held 1.5 s over
// the virtual microphone, so the Cast sessions open and the Sonos groups,
// sources and volumes are read while the user speaks (warm). "saved message":
// a clip sent as it is, with nothing done ahead (cold). Times are read from
// the devices' own records (the house's JSON lines, on the monotonic clock the
// driver stamps the release with): when each Sonos coordinator received
// "Play", each Cast device LOAD, and the first byte of the clip's body.
//
// The floor counts what cannot be avoided, in round trips (RTT = 2 x delay).
// Every SOAP request goes on a connection of its own (the player answers once
// and closes), so each costs a TCP handshake and a round trip: 2 RTT, and a
// request is received 1.5 RTT after its connection began.
//   Sonos, recorded: position and play state read (together), source, volume,
//     Play: Play received at 3 x 2 + 1.5 = 7.5 RTT.
//   Sonos, saved message: group lookup, the four reads (together), source,
//     volume, Play: 9.5 RTT.
//   The player then fetches: HEAD (2 RTT), GET's first byte (2 RTT): + 4 RTT.
//   Cast, warm: LOAD on the open session: 0.5 RTT.
//   Cast, cold: TCP (1), TLS 1.3 (1), LAUNCH -> RECEIVER_STATUS (1), LOAD
//     (0.5): 3.5 RTT. The device then fetches two bytes on a new connection:
//     first byte + 2 RTT.
#include "house/HouseRun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <map>

using namespace pealix::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

struct Mode
{
    QString name;
    QStringList driverArguments;
    bool recorded;
    double sonosPlayRtt, castLoadRtt; // the floors above
};

constexpr double kSonosFetchRtt = 4, kCastFetchRtt = 2;

struct Row
{
    QString room, what;
    double floorRtt = 0;
    QList<double> ms;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double t(const QJsonObject &event)
{
    return event.value(u"t"_s).toDouble();
}

// The first of `events` of `room` at or after `from` and before `to` that `matches`.
template <typename Matches>
std::optional<double> first(const HouseRun &run, const QString &event, const QString &room, double from,
                            double to, Matches matches)
{
    for (const QJsonObject &each : run.of(event, room))
        if (t(each) >= from && t(each) <= to && matches(each))
            return t(each);
    return std::nullopt;
}

// When the first byte of the clip's body reached `room`.
std::optional<double> firstByte(const HouseRun &run, const QString &room, double from, double to)
{
    std::optional<double> earliest;
    for (const QJsonObject &fetch : run.of(u"fetch"_s, room)) {
        const double at = fetch.value(u"firstByte"_s).toDouble(-1);
        if (at >= from && at <= to && (!earliest || at < *earliest))
            earliest = at;
    }
    return earliest;
}

// What each speaker was sent between the release and its command, with times:
// the sequence the floor above assumes, as the devices saw it.
void printSequence(const HouseRun &run, const QStringList &sonos, const QStringList &cast, double released,
                   double ended)
{
    const auto ms = [released](double at) { return QString::number((at - released) * 1000, 'f', 1); };
    for (const QString &room : sonos) {
        QStringList steps;
        for (const QJsonObject &request : run.of(u"request"_s, room))
            if (t(request) >= released && t(request) <= ended && steps.size() < 8)
                steps << request.value(u"action"_s).toString() + u" +"_s + ms(t(request));
        printf("  %s: %s\n", qPrintable(room), qPrintable(steps.join(u", "_s)));
    }
    for (const QString &room : cast) {
        QStringList steps;
        for (const QJsonObject &message : run.of(u"message"_s, room)) {
            const QString type = message.value(u"type"_s).toString();
            if (t(message) >= released && t(message) <= ended && !type.isEmpty() && type != u"PONG" &&
                steps.size() < 8)
                steps << type + u" +"_s + ms(t(message));
        }
        printf("  %s: %s\n", qPrintable(room), qPrintable(steps.join(u", "_s)));
    }
}

int measure(const Mode &mode, const QString &house, int announcements, int delayMs)
{
    const double rtt = 2.0 * delayMs;
    const HouseRun run = runHouse(
        house, mode.driverArguments + QStringList{u"--announcements"_s, QString::number(announcements)},
        std::chrono::seconds(60 + 30 * announcements), {u"--delay"_s, QString::number(delayMs)});
    if (run.exitCode == HouseRun::kCannotRun) {
        fprintf(stderr, "broadcast-bench: the house cannot run here: %s\n", qPrintable(run.errors));
        return HouseRun::kCannotRun;
    }
    const QList<QJsonObject> results = run.resultsWith(u"announcement"_s);
    if (!run.finished || run.exitCode != 0 || results.size() != announcements) {
        fprintf(stderr, "broadcast-bench: %s: the house ended with %d\n%s%s\n", qPrintable(mode.name),
                run.exitCode, qPrintable(run.output.right(3000)), qPrintable(run.errors.right(2000)));
        return 1;
    }
    // The coordinators are told to play; group members follow them.
    QStringList sonos, cast;
    for (const QJsonObject &room : run.of(u"room"_s)) {
        if (room.value(u"kind"_s) == u"cast"_s)
            cast << room.value(u"room"_s).toString();
        else if (!room.contains(u"coordinator"_s))
            sonos << room.value(u"room"_s).toString();
    }
    std::map<std::pair<QString, QString>, Row> rows;
    const auto add = [&rows](const QString &room, const QString &what, double floorRtt,
                             std::optional<double> ms) {
        Row &row = rows[{room, what}];
        row.room = room;
        row.what = what;
        row.floorRtt = floorRtt;
        if (ms)
            row.ms << *ms;
    };
    QList<double> lastCommand;
    int goalMet = 0;
    const double lastFloorMs =
        (sonos.isEmpty() ? mode.castLoadRtt
                         : std::max(mode.sonosPlayRtt, cast.isEmpty() ? 0 : mode.castLoadRtt)) *
        rtt;
    for (const QJsonObject &result : results) {
        const double released = result.value(mode.recorded ? u"released"_s : u"started"_s).toDouble();
        const double ended = result.value(u"ended"_s).toDouble();
        const auto since = [released](std::optional<double> at) {
            return at ? std::optional<double>((*at - released) * 1000) : std::nullopt;
        };
        if (result.value(u"announcement"_s).toInt() == 1) {
            printf("%s, announcement 1, as the devices received it (ms after the release):\n",
                   qPrintable(mode.name));
            printSequence(run, sonos, cast, released, ended);
        }
        double last = 0;
        bool all = true;
        for (const QString &room : sonos) {
            const auto play = since(first(run, u"request"_s, room, released, ended, [](const QJsonObject &e) {
                return e.value(u"action"_s) == u"Play"_s;
            }));
            add(room, u"Play received"_s, mode.sonosPlayRtt, play);
            add(room, u"first clip byte"_s, mode.sonosPlayRtt + kSonosFetchRtt,
                since(firstByte(run, room, released, ended)));
            all = all && play;
            last = std::max(last, play.value_or(0));
        }
        for (const QString &room : cast) {
            const auto load = since(first(run, u"message"_s, room, released, ended, [](const QJsonObject &e) {
                return e.value(u"type"_s) == u"LOAD"_s;
            }));
            add(room, u"LOAD received"_s, mode.castLoadRtt, load);
            add(room, u"first clip byte"_s, mode.castLoadRtt + kCastFetchRtt,
                since(firstByte(run, room, released, ended)));
            all = all && load;
            last = std::max(last, load.value_or(0));
        }
        if (all) {
            lastCommand << last;
            goalMet += last <= 1.10 * lastFloorMs + 10;
        }
    }
    printf("\n| %s | speaker | floor | median | max | median / floor |\n|---|---|---|---|---|---|\n",
           qPrintable(mode.name));
    for (const auto &[key, row] : rows) {
        const double floorMs = row.floorRtt * rtt;
        if (row.ms.isEmpty()) {
            printf("| %s | %s | %.1f RTT = %.0f ms | never | | |\n", qPrintable(row.what),
                   qPrintable(row.room), row.floorRtt, floorMs);
            continue;
        }
        printf("| %s | %s | %.1f RTT = %.0f ms | %.1f ms | %.1f ms | %.2f |\n", qPrintable(row.what),
               qPrintable(row.room), row.floorRtt, floorMs, median(row.ms),
               *std::max_element(row.ms.begin(), row.ms.end()), median(row.ms) / floorMs);
    }
    printf("| release -> last command | all | %.0f ms; goal <= 1.10 x floor + 10 = %.0f ms | %.1f ms | %.1f "
           "ms | "
           "%.2f |\n",
           lastFloorMs, 1.10 * lastFloorMs + 10, median(lastCommand),
           lastCommand.isEmpty() ? 0 : *std::max_element(lastCommand.begin(), lastCommand.end()),
           median(lastCommand) / lastFloorMs);
    printf("goal met in %d of %d announcements\n\n", goalMet, announcements);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Release -> each speaker's command and first clip byte in the simulated house, over a delayed link. "
        "Run as root (the delayed link needs TAP devices), with PULSE_SERVER naming a server with a "
        "microphone for the recorded runs (bench/broadcast/run.sh sets one up)."_s);
    parser.addHelpOption();
    const QCommandLineOption count(u"announcements"_s, u"Announcements per way of sending."_s, u"n"_s,
                                   u"5"_s);
    const QCommandLineOption delay(u"delay"_s, u"One-way delay of the link in ms (RTT = 2 x delay)."_s,
                                   u"ms"_s, u"10"_s);
    const QCommandLineOption house(u"house"_s, u"The house description."_s, u"file"_s,
                                   houseFile(u"house.json"_s));
    const QCommandLineOption only(u"only"_s, u"Only this way of sending: recorded or saved."_s, u"way"_s);
    parser.addOptions({count, delay, house, only});
    parser.process(app);
    const int announcements = std::max(1, parser.value(count).toInt());
    const int delayMs = std::clamp(parser.value(delay).toInt(), 1, 1000);

    const Mode modes[] = {
        {u"recorded (warm Cast, Sonos read ahead)"_s, {u"--record"_s, u"1.5"_s}, true, 7.5, 0.5},
        {u"saved message (cold Cast, nothing ahead)"_s, {u"--say"_s, u"Dinner is ready"_s}, false, 9.5, 3.5}};
    printf("link: %d ms each way, RTT %d ms; %d announcements per way\n\n", delayMs, 2 * delayMs,
           announcements);
    for (const Mode &mode : modes) {
        if (parser.isSet(only) && !mode.name.startsWith(parser.value(only)))
            continue;
        if (const int status = measure(mode, parser.value(house), announcements, delayMs); status != 0)
            return status;
    }
    return 0;
}
