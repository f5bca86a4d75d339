#pragma once

// Names of the program's own preferences, kept with QSettings (never in a
// session file).
namespace preference {
inline constexpr char kOrganization[] = "Tarvik";
// Log in again by itself when the server is lost.
inline constexpr char kReconnect[] = "broadcast/reconnect";
// "real-time" or "hold".
inline constexpr char kPacing[] = "broadcast/pacing";
inline constexpr char kPacingDefault[] = "real-time";
// The main window's size when it was last closed; the first size, which is
// also the smallest, is the layout's own.
inline constexpr char kWindowSize[] = "window/size";
inline constexpr int kWindowWidthPx = 720;
inline constexpr int kWindowHeightPx = 520;
// Where converted videos go, and how they are encoded.
inline constexpr char kConvertOutputFolder[] = "convert/output_folder";
inline constexpr char kConvertFrameSize[] = "convert/frame_size";
inline constexpr char kConvertFrameRate[] = "convert/frame_rate";
inline constexpr char kConvertVideoKbps[] = "convert/video_kbps";
inline constexpr char kConvertAudioKbps[] = "convert/audio_kbps";
} // namespace preference
