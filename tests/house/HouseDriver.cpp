// house-driver: the engine of Pealix, without its windows, against whatever
// speakers its network offers; made for the simulated house. It makes the
// stores and the broadcaster as the application does, scans, switches on
// every speaker it found and sends announcements one after another, printing
// one JSON line per step for the program that runs it:
//   {"scan":{...}}                      what the scan found
//   {"announcement":N,...}              how announcement N went, speaker by speaker
//   {"stats":{...}}                     descriptors, memory, objects, timers (--report-every),
//                                       once after the scan and after every n announcements
// It runs on a home of its own, so it never touches the person's settings.
#include "audio/AudioFileDuration.h"
#include "audio/AudioRecorder.h"
#include "engine/AppDelegate.h"
#include "engine/Broadcaster.h"
#include "house/ProcessStats.h"
#include "house/SpokenClip.h"
#include "model/Preferences.h"
#include "model/SpeakerStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <QCoro/QCoroSignal>
#include <QCoro/QCoroTask>
#include <QCoro/QCoroTimer>

#include <chrono>
#include <cstdio>

using namespace pealix;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr int kBadUse = 2, kTooFewSpeakers = 3, kStuck = 4;

struct Options
{
    QString clip;
    double duration = 0;
    int announcements = 1;
    int expect = 0;
    int reportEvery = 0;
    std::optional<double> record; // seconds of microphone instead of a clip
    std::chrono::seconds limit{120};
};

double monotonic()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

QFile g_out;

void print(const QJsonObject &line)
{
    g_out.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
}

QString outcomeName(Delivery::Outcome outcome)
{
    switch (outcome) {
    case Delivery::Outcome::Played:
        return u"played"_s;
    case Delivery::Outcome::NoAnswer:
        return u"no-answer"_s;
    case Delivery::Outcome::Refused:
        return u"refused"_s;
    case Delivery::Outcome::NotReady:
        return u"not-ready"_s;
    }
    return {};
}

QJsonObject speakerJson(const Speaker &speaker)
{
    return {{u"id"_s, speaker.id},
            {u"name"_s, speaker.name},
            {u"kind"_s, rawValue(speaker.kind)},
            {u"host"_s, speaker.host},
            {u"port"_s, speaker.port}};
}

// The process figures after `announcements`, with the main thread's objects by class.
void printStats(int announcements)
{
    const test::ProcessStats stats = test::processStats();
    QJsonObject classes;
    for (const auto &[name, count] : stats.classes)
        classes.insert(QString::fromLatin1(name), count);
    print({{u"stats"_s, QJsonObject{{u"after"_s, announcements},
                                    {u"descriptors"_s, stats.descriptors},
                                    {u"residentKiB"_s, stats.residentKiB},
                                    {u"heapKiB"_s, stats.heapKiB},
                                    {u"objects"_s, stats.objects},
                                    {u"timers"_s, stats.timers},
                                    {u"classes"_s, classes}}}});
}

// The driver's own watchdog: an announcement that never ends is a finding, not a hang.
void watch(QTimer &watchdog, int announcement)
{
    watchdog.disconnect();
    QObject::connect(&watchdog, &QTimer::timeout, [announcement] {
        print({{u"announcement"_s, announcement}, {u"stuck"_s, true}});
        QCoreApplication::exit(kStuck);
    });
    watchdog.start();
}

QCoro::Task<> drive(AppDelegate &app, Options options)
{
    SpeakerStore &store = app.speakers();
    Broadcaster &broadcaster = app.broadcaster();
    const double scanStarted = monotonic();
    co_await store.scan();
    QJsonArray found;
    for (const Speaker &speaker : store.speakers()) {
        found.append(speakerJson(speaker));
        if (!store.isEnabled(speaker.id))
            store.toggle(speaker.id);
    }
    print({{u"scan"_s, QJsonObject{{u"found"_s, found}, {u"seconds"_s, monotonic() - scanStarted}}}});
    if (found.size() < options.expect) {
        fprintf(stderr, "house-driver: the scan found %lld speakers, not %d\n", found.size(), options.expect);
        QCoreApplication::exit(kTooFewSpeakers);
        co_return;
    }

    if (options.reportEvery > 0)
        printStats(0); // the start, scan done, to compare the rest with
    QTimer watchdog;
    watchdog.setSingleShot(true);
    watchdog.setInterval(options.limit);
    for (int n = 1; n <= options.announcements; ++n) {
        watch(watchdog, n);
        const QList<Speaker> speakers = store.enabledSpeakers();
        const double started = monotonic();
        double released = started;
        if (options.record) {
            co_await broadcaster.startRecording(speakers);
            QTimer hold;
            hold.setSingleShot(true);
            hold.start(std::chrono::milliseconds(qRound64(*options.record * 1000)));
            co_await qCoro(&hold, &QTimer::timeout);
            released = monotonic();
            co_await broadcaster.stopAndSend(speakers);
        } else {
            co_await broadcaster.broadcast(QUrl::fromLocalFile(options.clip), speakers, options.duration);
        }
        watchdog.stop();
        if (options.record) { // what was recorded, as the speakers fetched it
            options.clip = AudioRecorder::defaultClipPath();
            options.duration = audioFileDuration(options.clip).value_or(0);
        }
        QJsonArray deliveries;
        for (const Delivery &delivery : broadcaster.deliveries()) {
            QJsonObject each = speakerJson(delivery.speaker);
            each.insert(u"outcome"_s, outcomeName(delivery.outcome));
            each.insert(u"code"_s, delivery.code);
            deliveries.append(each);
        }
        print({{u"announcement"_s, n},
               {u"started"_s, started},
               {u"released"_s, released},
               {u"ended"_s, monotonic()},
               {u"clip"_s, options.clip},
               {u"duration"_s, options.duration},
               {u"bytes"_s, QFileInfo(options.clip).size()},
               {u"idle"_s, broadcaster.status().kind == Broadcaster::Status::Kind::Idle},
               {u"lastError"_s, broadcaster.lastError().isNull() ? QJsonValue() : broadcaster.lastError()},
               {u"deliveries"_s, deliveries}});
        if (options.reportEvery > 0 && n % options.reportEvery == 0)
            printStats(n);
    }
    QCoreApplication::exit(0);
}

std::optional<Options> parse(QCoreApplication &app, const QString &home, QString *problem)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Pealix's engine against the speakers of its network, for the simulated house."_s);
    parser.addHelpOption();
    const QCommandLineOption clip(u"clip"_s, u"The clip to send (.m4a)."_s, u"file"_s);
    const QCommandLineOption say(u"say"_s, u"Send this text, spoken by espeak-ng."_s, u"text"_s);
    const QCommandLineOption record(u"record"_s, u"Record this long from the microphone instead."_s,
                                    u"seconds"_s);
    const QCommandLineOption count(u"announcements"_s, u"How many to send, one after another."_s, u"n"_s,
                                   u"1"_s);
    const QCommandLineOption expect(u"expect"_s, u"Fail unless the scan finds this many speakers."_s, u"n"_s,
                                    u"0"_s);
    const QCommandLineOption every(u"report-every"_s, u"Print process figures after every n announcements."_s,
                                   u"n"_s, u"0"_s);
    const QCommandLineOption volume(u"volume"_s, u"Announcement volume, 0 to keep each speaker's."_s,
                                    u"0-100"_s);
    const QCommandLineOption keep(u"no-restore"_s, u"Leave Sonos players as the announcement leaves them."_s);
    const QCommandLineOption out(u"results"_s, u"Write the JSON lines here instead of standard output."_s,
                                 u"file"_s);
    const QCommandLineOption limit(u"limit"_s, u"Seconds an announcement may take at most."_s, u"seconds"_s,
                                   u"120"_s);
    parser.addOptions({clip, say, record, count, expect, every, volume, keep, out, limit});
    parser.process(app);

    Options options;
    options.announcements = parser.value(count).toInt();
    options.expect = parser.value(expect).toInt();
    options.reportEvery = parser.value(every).toInt();
    options.limit = std::chrono::seconds(parser.value(limit).toInt());
    if (parser.isSet(record))
        options.record = parser.value(record).toDouble();
    if (parser.isSet(say)) {
        options.clip = home + u"/spoken.m4a"_s;
        if (!test::writeSpokenClip(parser.value(say), options.clip, problem))
            return std::nullopt;
    } else {
        options.clip = parser.value(clip);
    }
    if (!options.record) {
        const std::optional<double> duration = audioFileDuration(options.clip);
        if (!duration) {
            *problem = options.clip.isEmpty() ? u"give --clip, --say or --record"_s
                                              : options.clip + u" is not a clip whose length can be read"_s;
            return std::nullopt;
        }
        options.duration = *duration;
    }
    if (options.announcements < 1 || options.limit.count() < 1) {
        *problem = u"--announcements and --limit must be at least 1"_s;
        return std::nullopt;
    }
    g_out.setFileName(parser.value(out));
    const bool opened = parser.isSet(out)
                            ? g_out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
                            : g_out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (!opened) {
        *problem = u"cannot write the results: "_s + g_out.errorString();
        return std::nullopt;
    }
    if (parser.isSet(volume))
        Preferences::shared().setAnnouncementVolume(parser.value(volume).toInt());
    if (parser.isSet(keep))
        Preferences::shared().setRestoreAfterClip(false);
    return options;
}

} // namespace

int main(int argc, char **argv)
{
    test::countObjects();
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(u"Pealix"_s);
    QCoreApplication::setApplicationName(u"Pealix"_s);

    // A home of its own: settings, saved messages and the clip's folder.
    QTemporaryDir home(QDir::tempPath() + u"/house-driver-XXXXXX"_s);
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        const QString dir = home.path() + u'/' + QLatin1String(name);
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(name, dir.toUtf8());
    }
    QString problem;
    const std::optional<Options> options = parse(app, home.path(), &problem);
    if (!options) {
        fprintf(stderr, "house-driver: %s\n", qPrintable(problem));
        return kBadUse;
    }
    AppDelegate delegate;
    QTimer::singleShot(0, &delegate, [&delegate, &options] { drive(delegate, *options); });
    return QCoreApplication::exec();
}
