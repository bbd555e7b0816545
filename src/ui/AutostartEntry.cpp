#include "ui/AutostartEntry.h"

#include "model/PrivateFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>

namespace pealix {

namespace {

// Characters after which a launcher no longer takes an Exec word literally.
const QString ReservedInExec = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
// Inside double quotes these four still need a backslash.
const QString EscapedInQuotes = QStringLiteral("\"`$\\");

bool isSwitchOff(const QByteArray &key, const QByteArray &value)
{
    return (key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false");
}

} // namespace

AutostartEntry::AutostartEntry(QString folder, QString program)
    : m_folder(std::move(folder)), m_program(std::move(program))
{
    if (m_program.isEmpty())
        m_program = QCoreApplication::applicationFilePath();
}

QString AutostartEntry::defaultFolder()
{
    // $XDG_CONFIG_HOME when it is an absolute path, ~/.config otherwise.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("autostart"));
}

QString AutostartEntry::filePath() const
{
    return QDir(m_folder).filePath(QString::fromLatin1(FileName));
}

std::optional<QString> AutostartEntry::execValue(const QString &program)
{
    if (program.isEmpty())
        return std::nullopt;
    QString word;
    bool quote = false;
    for (const QChar c : program) {
        if (c.category() == QChar::Other_Control)
            return std::nullopt;
        quote = quote || ReservedInExec.contains(c);
        if (EscapedInQuotes.contains(c))
            word += QLatin1Char('\\');
        word += c;
    }
    // Unquoted, only characters that need no backslash are left.
    if (quote)
        word = QLatin1Char('"') + word + QLatin1Char('"');
    // Then the key's value is a string (where a backslash is written twice),
    // and a percent sign would start a field code.
    word.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    word.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return word;
}

std::optional<QByteArray> AutostartEntry::contents(const QString &program)
{
    const std::optional<QString> exec = execValue(program);
    if (!exec)
        return std::nullopt;
    QByteArray text = QByteArrayLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Pealix\n"
                                        "Comment=Talk to every room at once through your network speakers\n"
                                        "Exec=");
    text += exec->toUtf8();
    text += QByteArrayLiteral("\n"
                              "Icon=org.pealix.Pealix\n"
                              "Terminal=false\n"
                              "StartupNotify=false\n");
    return text;
}

bool AutostartEntry::isEnabled() const
{
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = file.read(MaxEntryBytes).split('\n');
    bool inMainGroup = false;
    for (const QByteArray &raw : lines) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (inMainGroup && equals > 0 &&
            isSwitchOff(line.left(equals).trimmed(), line.mid(equals + 1).trimmed()))
            return false;
    }
    return true;
}

bool AutostartEntry::setEnabled(bool enabled)
{
    const QString path = filePath();
    if (!enabled)
        return QFile::remove(path) || !QFile::exists(path);

    const std::optional<QByteArray> text = contents(m_program);
    // A folder made for the entry is the user's alone; one that was there
    // keeps its mode, since other programs' entries live in it too.
    if (!text || !(QFileInfo(m_folder).isDir() || makePrivateFolder(m_folder)))
        return false;
    // A session that logs in while this runs finds the old entry or the new
    // one, never half of one.
    QSaveFile file(path);
    // QSaveFile would give the entry the umask's permissions.
    if (!file.open(QIODevice::WriteOnly) || ::fchmod(file.handle(), 0600) != 0)
        return false;
    file.write(*text);
    return file.commit();
}

} // namespace pealix
