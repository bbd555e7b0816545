#include "model/Preferences.h"

#include "model/PrivateFiles.h"

#include <QFileInfo>
#include <QMetaType>
#include <QRegularExpression>

#include <limits>

namespace pealix {

Preferences &Preferences::shared()
{
    static Preferences instance(
        std::make_unique<QSettings>(QStringLiteral("Pealix"), QStringLiteral("Pealix")));
    return instance;
}

Preferences::Preferences(std::unique_ptr<QSettings> store) : m_defaults(std::move(store)) {}

// The INI files QSettings keeps on Linux store numbers and booleans as text, so
// a text is accepted when it spells a value of the wanted type exactly.

std::optional<qint64> Preferences::readInteger(const QString &key) const
{
    const QVariant value = m_defaults->value(key);
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toLongLong();
    case QMetaType::QString: {
        static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]{1,18}$"));
        const QString text = value.toString();
        if (integer.match(text).hasMatch())
            return text.toLongLong();
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<bool> Preferences::readBool(const QString &key) const
{
    const QVariant value = m_defaults->value(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String("true"))
            return true;
        if (text == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

std::optional<QStringList> Preferences::readStringList(const QString &key) const
{
    const QVariant value = m_defaults->value(key);
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    // INI stores a one-element list as a plain text.
    if (value.typeId() == QMetaType::QString)
        return QStringList{value.toString()};
    if (value.typeId() == QMetaType::QVariantList) {
        QStringList texts;
        for (const QVariant &item : value.toList()) {
            if (item.typeId() != QMetaType::QString)
                return std::nullopt;
            texts << item.toString();
        }
        return texts;
    }
    return std::nullopt;
}

std::optional<QByteArray> Preferences::readData(const QString &key) const
{
    const QVariant value = m_defaults->value(key);
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray();
    return std::nullopt;
}

void Preferences::write(const QString &key, const QVariant &value)
{
    // QSettings would make the folder and file with the umask's permissions;
    // made private beforehand, it keeps them when it rewrites the file.
    const QString file = m_defaults->fileName();
    makePrivateFolder(QFileInfo(file).absolutePath());
    preparePrivateFile(file);
    m_defaults->setValue(key, value);
    m_defaults->sync();
}

HotkeyConfig Preferences::hotkey() const
{
    if (const auto data = readData(HotkeyKey)) {
        if (const auto chord = HotkeyConfig::fromJson(*data))
            return *chord;
    }
    return HotkeyConfig::defaultChord();
}

void Preferences::setHotkey(const HotkeyConfig &chord)
{
    write(HotkeyKey, chord.toJson());
}

int Preferences::announcementVolume() const
{
    const auto volume = readInteger(AnnouncementVolumeKey);
    if (!volume || *volume < std::numeric_limits<int>::min() || *volume > std::numeric_limits<int>::max())
        return DefaultAnnouncementVolume;
    return static_cast<int>(*volume);
}

void Preferences::setAnnouncementVolume(int volume)
{
    write(AnnouncementVolumeKey, volume);
}

bool Preferences::restoreAfterClip() const
{
    return readBool(RestoreAfterClipKey).value_or(DefaultRestoreAfterClip);
}

void Preferences::setRestoreAfterClip(bool restore)
{
    write(RestoreAfterClipKey, restore);
}

} // namespace pealix
