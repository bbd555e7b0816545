// The command line of the real program, run in a network namespace of its own
// (it multicasts to find speakers): --version and --help, and --talk, which
// taps the running Pealix's talk button. Judged where it shows: the
// microphone's server sees a recording begin and end, and a fake Sonos player
// on the namespace's network is told to play the clip and fetches it.
#include "house/devices/SsdpResponder.h"
#include "support/FakeSonosPlayer.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QLocalSocket>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace pealix::test;
using namespace Qt::StringLiterals;

namespace {

const char *const PlayerAddress = "10.77.0.1"; // talk-sandbox.sh puts it on an interface
const QByteArray PlayerUdn = "uuid:RINCON_TALK000001400";
const QString PlayerId = u"sonos:RINCON_TALK000001400"_s;

#define REQUIRE_SANDBOX()                                                                                    \
    PEALIX_REQUIRE(qEnvironmentVariableIsSet("PEALIX_TALK_SANDBOX"),                                         \
                   "Pealix runs only inside the namespace talk-sandbox.sh makes")

QString program()
{
    return qEnvironmentVariable("PEALIX_PROGRAM");
}

struct Outcome
{
    int status = -1;
    QString out;
    QString err;
};

// What every Pealix here runs with: no display, and no D-Bus buses, so that it
// cannot reach an avahi-daemon outside the namespace.
QProcessEnvironment sandboxedEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    const QString noBus = u"unix:path="_s + qEnvironmentVariable("XDG_RUNTIME_DIR") + u"/no-bus"_s;
    environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, noBus);
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, noBus);
    return environment;
}

// Waits for `process` while this thread's event loop runs: the fake player and
// its SSDP side live on it and must go on answering meanwhile.
bool finished(QProcess &process, int timeoutMs)
{
    return process.waitForStarted(5000) &&
           QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
}

Outcome runPealix(const QStringList &arguments)
{
    QProcess process;
    process.setProcessEnvironment(sandboxedEnvironment());
    process.start(program(), arguments);
    Outcome outcome;
    if (!finished(process, 15000)) {
        process.kill();
        process.waitForFinished();
        outcome.err = u"did not finish within 15 s"_s;
        return outcome;
    }
    outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = QString::fromUtf8(process.readAllStandardOutput());
    outcome.err = QString::fromUtf8(process.readAllStandardError());
    return outcome;
}

// How many recording streams Pealix has open on the PulseAudio server.
int pealixRecordings()
{
    QProcess pactl;
    pactl.start(u"pactl"_s, {u"list"_s, u"source-outputs"_s});
    if (!pactl.waitForFinished(5000))
        return -1;
    return int(pactl.readAllStandardOutput().count("application.process.binary = \"pealix\""));
}

// True once a copy of Pealix takes connections on its single-instance socket.
bool answers(const QString &socket)
{
    QLocalSocket probe;
    probe.connectToServer(socket);
    const bool connected = probe.waitForConnected(200);
    probe.abort();
    return connected;
}

// A running Pealix, ended when the test ends, however it ends.
struct RunningPealix
{
    RunningPealix()
    {
        process.setProcessEnvironment(sandboxedEnvironment());
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(program(), QStringList());
    }
    ~RunningPealix()
    {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished();
        }
    }
    QProcess process;
};

bool described(const FakeSonosPlayer &player)
{
    return std::any_of(
        player.requests.cbegin(), player.requests.cend(),
        [](const FakeSonosPlayer::Request &r) { return r.path == FakeSonosPlayer::kDescriptionPath; });
}

// Fetched a clip whole since its fetch number `since`.
bool fetchedWhole(const FakeSonosPlayer &player, qsizetype since)
{
    return std::any_of(
        player.fetches.cbegin() + since, player.fetches.cend(),
        [](const FakeSonosPlayer::Fetch &f) { return f.method == "GET" && f.status == 200 && f.bytes > 0; });
}

} // namespace

TEST(CommandLine, VersionHelpAndWhatItRefuses)
{
    REQUIRE_SANDBOX();
    const Outcome version = runPealix({u"--version"_s});
    EXPECT_EQ(version.status, 0) << version.err.toStdString();
    EXPECT_EQ(version.out.trimmed(), u"Pealix " PEALIX_VERSION ""_s);

    const Outcome help = runPealix({u"--help"_s});
    EXPECT_EQ(help.status, 0) << help.err.toStdString();
    for (const char *option : {"--talk", "--version", "--help"})
        EXPECT_TRUE(help.out.contains(QLatin1String(option))) << option << " missing from\n"
                                                              << help.out.toStdString();

    const struct
    {
        const char *situation;
        QStringList arguments;
        QString says = {}; // empty: anything, as long as it says something
    } refused[] = {
        {"an option that does not exist", {u"--shout"_s}},
        {"a file name", {u"kitchen.m4a"_s}},
        {"something after --talk", {u"--talk"_s, u"now"_s}},
        {"--talk with no Pealix running", {u"--talk"_s}, u"Pealix is not running"_s},
    };
    for (const auto &row : refused) {
        SCOPED_TRACE(row.situation);
        const Outcome outcome = runPealix(row.arguments);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_FALSE(outcome.err.trimmed().isEmpty());
        EXPECT_TRUE(outcome.err.contains(row.says)) << outcome.err.toStdString();
    }
}

TEST(CommandLine, TalkRecordsThenSendsToTheEnabledSpeakers)
{
    REQUIRE_SANDBOX();
    PEALIX_REQUIRE(qEnvironmentVariableIsSet("PULSE_SERVER") && pealixRecordings() == 0,
                   "needs the PulseAudio server with a virtual microphone (pulse-fixture.sh)");
    QTemporaryDir scratch;
    const QString tone = scratch.filePath(u"tone.wav"_s);
    ASSERT_EQ(QProcess::execute(u"sox"_s, {u"-n"_s, u"-r"_s, u"44100"_s, u"-c"_s, u"1"_s, tone, u"synth"_s,
                                           u"2"_s, u"sine"_s, u"440"_s}),
              0);

    FakeSonosPlayer player(PlayerAddress, "Kitchen", PlayerUdn);
    pealix::house::SsdpResponder responder(
        QList<QByteArray>{"LOCATION: " + player.descriptionUrl().toUtf8()});
    ASSERT_TRUE(responder.listening);
    {
        // The kitchen was switched on in an earlier session.
        QSettings settings(u"Pealix"_s, u"Pealix"_s);
        settings.setValue(u"enabledSpeakerIDs"_s, QStringList{PlayerId});
    }

    RunningPealix pealix;
    ASSERT_TRUE(pealix.process.waitForStarted(5000));
    const QString socket =
        QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).filePath(u"org.pealix.Pealix.instance"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers(socket); }, 10000)) << "Pealix never listened";
    ASSERT_TRUE(QTest::qWaitFor([&] { return described(player); }, 15000)) << "the player was never found";

    // Pealix knows the kitchen once its first scan is over, a few seconds
    // after start; taps before that send to nobody, as for a user who talks
    // too soon, and that user talks again.
    bool played = false;
    for (int round = 0; round < 3 && !played; ++round) {
        SCOPED_TRACE("round " + std::to_string(round + 1));
        const qsizetype actionsBefore = player.actions.size();
        const qsizetype fetchesBefore = player.fetches.size();
        const Outcome first = runPealix({u"--talk"_s});
        ASSERT_EQ(first.status, 0) << first.err.toStdString();
        ASSERT_TRUE(QTest::qWaitFor([] { return pealixRecordings() == 1; }, 10000)) << "no recording began";

        // Say something, then tap again.
        QProcess speech;
        speech.start(u"paplay"_s, {u"--device=vmic_sink"_s, tone});
        ASSERT_TRUE(finished(speech, 15000));
        ASSERT_EQ(speech.exitCode(), 0);
        EXPECT_FALSE(player.actions.mid(actionsBefore).contains(u"Play"_s)) << "played before the second tap";
        const Outcome second = runPealix({u"--talk"_s});
        ASSERT_EQ(second.status, 0) << second.err.toStdString();
        ASSERT_TRUE(QTest::qWaitFor([] { return pealixRecordings() == 0; }, 10000))
            << "the recording went on";

        played = QTest::qWaitFor([&] { return fetchedWhole(player, fetchesBefore); }, 8000);
        if (played) {
            const QStringList told = player.actions.mid(actionsBefore);
            EXPECT_TRUE(told.contains(u"SetAVTransportURI"_s)) << told.join(u',').toStdString();
            EXPECT_TRUE(told.contains(u"Play"_s)) << told.join(u',').toStdString();
        }
    }
    EXPECT_TRUE(played) << "the player never fetched a clip; it heard: "
                        << player.actions.join(u',').toStdString();
    EXPECT_EQ(pealix.process.state(), QProcess::Running);
}
