#include "model/HotkeyConfig.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace pealix {

QString HotkeyConfig::displayString() const
{
    QString text;
    if (modifiers & Control)
        text += QChar(0x2303);
    if (modifiers & Option)
        text += QChar(0x2325);
    if (modifiers & Shift)
        text += QChar(0x21E7);
    if (modifiers & Command)
        text += QChar(0x2318);
    return text + keyName(keyCode);
}

QString HotkeyConfig::keyName(quint32 keyCode)
{
    switch (keyCode) {
    case 4: return QStringLiteral("H");
    case 11: return QStringLiteral("B");
    case 17: return QStringLiteral("T");
    case 49: return QStringLiteral("Space");
    case 50: return QStringLiteral("`");
    case 105: return QStringLiteral("F13");
    case 107: return QStringLiteral("F14");
    case 113: return QStringLiteral("F15");
    default: return QStringLiteral("Key %1").arg(keyCode);
    }
}

QByteArray HotkeyConfig::toJson() const
{
    const QJsonObject object{
        {QStringLiteral("keyCode"), static_cast<qint64>(keyCode)},
        {QStringLiteral("modifiers"), static_cast<qint64>(modifiers)},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<HotkeyConfig> HotkeyConfig::fromJson(const QByteArray &data)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const auto unsigned32 = [&](const char *key) -> std::optional<quint32> {
        const QJsonValue value = document.object().value(QLatin1String(key));
        if (!value.isDouble())
            return std::nullopt;
        const double number = value.toDouble();
        if (number < 0 || number > 4294967295.0 || std::floor(number) != number)
            return std::nullopt;
        return static_cast<quint32>(number);
    };
    const auto keyCode = unsigned32("keyCode");
    const auto modifiers = unsigned32("modifiers");
    if (!keyCode || !modifiers)
        return std::nullopt;
    return HotkeyConfig{*keyCode, *modifiers};
}

} // namespace pealix
