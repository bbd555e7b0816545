#pragma once

#include <QString>

#include <optional>

class QCoreApplication;
class QTextStream;

namespace pealix {

// The program's options: --help, --version, and --talk, a tap on the talk
// button of the Pealix already running (the first starts recording, the next
// sends). A desktop that cannot give Pealix its global chord can still bind a
// keyboard shortcut to `pealix --talk`.
class CommandLine
{
public:
    static constexpr char TalkCommand[] = "talk";

    static QString version();

    // Before the application object exists: answers --help, --version and
    // --talk, which must work without a display, and returns the exit status.
    // Nothing when Pealix itself should start.
    static std::optional<int> runBeforeApplication(int &argc, char **argv);
    // Once the application exists: ends the program with status 1 and a line
    // saying why when the command line holds anything Pealix does not know.
    static void checkArguments(const QCoreApplication &app);

    // Taps the talk button of the copy listening on `socketPath`: status 0, or
    // 1 with a line on `errors` when no copy took the tap.
    static int talk(const QString &socketPath, QTextStream &errors);
};

} // namespace pealix
