#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pealix {

// "Start Pealix when I log in": an entry in the user's XDG autostart folder
// ($XDG_CONFIG_HOME/autostart, normally ~/.config/autostart), which every
// freedesktop session starts at log-in. The file itself is the setting: there
// is nothing else to keep in step with it.
class AutostartEntry
{
public:
    // Named like the installed desktop entry, so the desktop's list of startup
    // programs shows Pealix's name and icon.
    static constexpr char FileName[] = "org.pealix.Pealix.desktop";
    static constexpr qint64 MaxEntryBytes = 64 * 1024;

    // `program` is what the entry starts; empty means this running program.
    explicit AutostartEntry(QString folder = defaultFolder(), QString program = QString());

    static QString defaultFolder();
    QString filePath() const;

    // True when the entry is there and not switched off (Hidden=true, or
    // GNOME's X-GNOME-Autostart-enabled=false, which its tools write).
    bool isEnabled() const;
    // Writes the whole entry beside its place and renames it there, or removes
    // it. False when that failed; isEnabled() then still tells the truth.
    bool setEnabled(bool enabled);

    // The entry that starts `program` (an absolute path), or nothing when the
    // path cannot be written in an Exec line (empty, or a control character in it).
    static std::optional<QByteArray> contents(const QString &program);
    // `program` as the Exec key's value: quoted when it holds a character the
    // launcher would otherwise split or expand on, then escaped as a string.
    static std::optional<QString> execValue(const QString &program);

private:
    QString m_folder;
    QString m_program;
};

} // namespace pealix
