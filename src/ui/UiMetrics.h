#pragma once

// The few sizes the design fixes, in device-independent pixels. Everything else
// comes from layouts and the desktop's fonts.
namespace pealix::metrics {

// Panel
inline constexpr int PanelPadding = 16;
inline constexpr int PanelSpacing = 14;
inline constexpr int PanelMinimumWidth = 340;
inline constexpr int TalkCircle = 46;
inline constexpr int TalkPadding = 10;
inline constexpr int TalkSpacing = 12;
inline constexpr int TalkCornerRadius = 12;
inline constexpr int TalkTextSpacing = 2;
inline constexpr int TalkGlyphSize = 24;
inline constexpr int MeterHeight = 3;
inline constexpr int MeterInset = 10; // from the button's left and right edges
inline constexpr int MeterLift = 6;   // above the button's bottom edge
inline constexpr int MeterMinimumFill = 2;
inline constexpr int MessageRowSpacing = 6;
inline constexpr int RowGlyphSize = 20;

// Settings window
inline constexpr int SettingsWidth = 460;
inline constexpr int SettingsHeight = 420;
inline constexpr int TabPadding = 16;
inline constexpr int TabSpacing = 12;
inline constexpr int HotkeySpacing = 14;
inline constexpr int OptionsSpacing = 8;
inline constexpr int CheckBoxSpacing = 16;
inline constexpr int KeyPickerWidth = 220;
inline constexpr int VolumeTextWidth = 44;
inline constexpr int EmptyStateGlyphSize = 40;
inline constexpr int AboutGlyphSize = 44;
inline constexpr int AboutSpacing = 10;
inline constexpr int ListCornerRadius = 8;
inline constexpr int SpinnerSize = 16;

} // namespace pealix::metrics
