#pragma once

#include "convert/encoding_settings.h"

// The program's own preferences, kept with QSettings (never in a session
// file): each name with the default that every reader of it uses.
namespace preference {
inline constexpr char kOrganization[] = "Tarvik";
// Log in again by itself when the server is lost.
inline constexpr char kReconnect[] = "broadcast/reconnect";
inline constexpr bool kReconnectDefault = false;
// "real-time" or "hold".
inline constexpr char kPacing[] = "broadcast/pacing";
inline constexpr char kPacingDefault[] = "real-time";
// The main window's size when it was last closed; the first size, which is
// also the smallest, is the layout's own.
inline constexpr char kWindowSize[] = "window/size";
inline constexpr int kWindowWidthPx = 720;
inline constexpr int kWindowHeightPx = 520;
// Where converted videos go: a folder of this name beside the session
// file, or the folder the operator chose for that session (a list of
// session and folder pairs).
inline constexpr char kConvertOutputFolders[] = "convert/output_folders";
inline constexpr char kConvertOutputFolderDefaultName[] = "videos";
// How converted videos are encoded: "640x360", "25", and kbit/s. The
// defaults are the pipeline's own.
inline constexpr char kConvertFrameSize[] = "convert/frame_size";
inline constexpr char kConvertFrameRate[] = "convert/frame_rate";
inline constexpr char kConvertVideoKbps[] = "convert/video_kbps";
inline constexpr char kConvertAudioKbps[] = "convert/audio_kbps";
inline constexpr convert::EncodingSettings kConvertEncodingDefault{};
} // namespace preference
