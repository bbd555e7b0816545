#pragma once

#include "model/HotkeyConfig.h"

#include <QSettings>
#include <QStringList>

#include <memory>
#include <optional>

namespace pealix {

// The user's settings in the per-user defaults store (QSettings, organisation and
// application "Pealix"). Reads are typed: a value of the wrong type under a key
// reads as that key's default and is left as it is.
class Preferences
{
public:
    static inline const QString HotkeyKey = QStringLiteral("hotkey");
    static inline const QString AnnouncementVolumeKey = QStringLiteral("announcementVolume");
    static inline const QString RestoreAfterClipKey = QStringLiteral("restoreAfterClip");
    static inline const QString EnabledSpeakerIDsKey = QStringLiteral("enabledSpeakerIDs");

    static constexpr int DefaultAnnouncementVolume = 35;
    static constexpr bool DefaultRestoreAfterClip = true;

    // The one instance, over the standard store, made on first use.
    static Preferences &shared();

    // Over a store of the caller's (tests point this at a file of their own).
    explicit Preferences(std::unique_ptr<QSettings> store);
    Preferences(const Preferences &) = delete;
    Preferences &operator=(const Preferences &) = delete;

    QSettings &defaults() { return *m_defaults; }

    HotkeyConfig hotkey() const;
    void setHotkey(const HotkeyConfig &chord);

    // 0 (or less) means: leave each speaker's volume alone. Not clamped here.
    int announcementVolume() const;
    void setAnnouncementVolume(int volume);

    bool restoreAfterClip() const;
    void setRestoreAfterClip(bool restore);

    // Typed reads for any key; nullopt when absent or of another type.
    std::optional<qint64> readInteger(const QString &key) const;
    std::optional<bool> readBool(const QString &key) const;
    std::optional<QStringList> readStringList(const QString &key) const;
    std::optional<QByteArray> readData(const QString &key) const;

    void write(const QString &key, const QVariant &value);

private:
    std::unique_ptr<QSettings> m_defaults;
};

} // namespace pealix
