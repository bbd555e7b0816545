#include "ui/CommandLine.h"

#include "ui/SingleInstance.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

namespace pealix {

namespace {

const QString TalkOption = QStringLiteral("talk");

// The words that end the program before it opens a window.
bool endsEarly(const char *argument)
{
    static const QByteArrayList words = {"-h", "-?", "--help", "--help-all", "-v", "--version", "--talk"};
    return words.contains(QByteArray(argument));
}

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Talk to every room at once through your network speakers."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(
        {TalkOption, QStringLiteral("Tap the talk button of the Pealix that is running: the first tap "
                                    "starts recording, the next one sends. Bind a keyboard shortcut "
                                    "to this where the hotkey does not reach Pealix.")});
}

} // namespace

QString CommandLine::version()
{
    return QStringLiteral(PEALIX_VERSION);
}

std::optional<int> CommandLine::runBeforeApplication(int &argc, char **argv)
{
    bool early = false;
    for (int i = 1; i < argc; ++i)
        early = early || endsEarly(argv[i]);
    if (!early)
        return std::nullopt;

    const QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Pealix"));
    QCoreApplication::setApplicationVersion(version());
    QCommandLineParser parser;
    describe(parser);
    // Answers --help and --version itself, and ends on an unknown option.
    parser.process(core);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "pealix: --talk takes nothing after it\n");
        return EXIT_FAILURE;
    }
    QTextStream errors(stderr);
    return talk(SingleInstance::defaultSocketPath(), errors);
}

void CommandLine::checkArguments(const QCoreApplication &app)
{
    QCoreApplication::setApplicationVersion(version());
    QCommandLineParser parser;
    describe(parser);
    parser.process(app);
    const QStringList extra = parser.positionalArguments();
    if (!extra.isEmpty()) {
        std::fprintf(stderr, "pealix: unexpected argument \u201c%s\u201d; see pealix --help\n",
                     qPrintable(extra.first()));
        std::exit(EXIT_FAILURE);
    }
}

int CommandLine::talk(const QString &socketPath, QTextStream &errors)
{
    const std::optional<QString> answer = SingleInstance::send(socketPath, QString::fromLatin1(TalkCommand));
    if (answer == QStringLiteral("ok"))
        return EXIT_SUCCESS;
    if (!answer)
        errors << "Pealix is not running (or did not answer), so there is no talk button to tap. "
                  "Start Pealix first.\n";
    else
        errors << "The Pealix that is running does not take --talk. Quit it and start it again.\n";
    errors.flush();
    return EXIT_FAILURE;
}

} // namespace pealix
