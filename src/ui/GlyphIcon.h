#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QRectF>

class QPainter;

namespace pealix {

// Symbols of the Material Design icon font (Debian's
// fonts-material-design-icons-iconfont), by code point.
enum class Glyph : char16_t {
    Megaphone = 0xef49,    // campaign
    Mic = 0xe029,          // mic
    Stop = 0xe047,         // stop
    Broadcasting = 0xe51e, // sensors: a dot with waves on both sides
    PlayCircle = 0xe1c4,   // play_circle
    Speakers = 0xe32e,     // speaker_group
    Keyboard = 0xe312,     // keyboard
    Waveform = 0xe1b8,     // graphic_eq
    Info = 0xe88e,         // info
    Refresh = 0xe5d5,      // refresh
    CheckCircle = 0xe86c,  // check_circle
    NoNetwork = 0xe648,    // wifi_off
    Delete = 0xe872,       // delete
    Shield = 0xe32a,       // security
    Settings = 0xe8b8,     // settings
    Power = 0xe8ac,        // power_settings_new
    Warning = 0xf083,      // warning_amber
};

// What colour an icon takes when it is drawn, looked up in the application's
// palette at that moment so that a change of desktop theme recolours it.
enum class IconTone { Text, Secondary, Accent, Red, Green, Destructive };

// The icon font at a pixel size; its family is "Material Icons".
QFont glyphFont(int pixelSize);
// True when the font is installed and has a shape for the glyph.
bool glyphAvailable(Glyph glyph);
QColor iconColour(IconTone tone, const QPalette &palette);

void paintGlyph(QPainter &painter, const QRectF &rect, Glyph glyph, const QColor &colour);
QIcon glyphIcon(Glyph glyph, IconTone tone = IconTone::Text);
// The tray item: the megaphone, light on an accent-coloured disc, so it reads
// on light and dark panels alike.
QIcon trayIcon();

} // namespace pealix
