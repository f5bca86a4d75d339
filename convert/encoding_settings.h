#pragma once

#include <QString>

#include <cstdint>

// How a video is encoded for the station: a VP8 picture of one frame size
// (the source's aspect ratio kept, the rest padded) and MP3 sound.
namespace convert {

inline constexpr int kAudioSampleRateHz = 44100;
inline constexpr int kAudioChannels = 2;

struct EncodingSettings {
  int width = 640;
  int height = 360;
  double frames_per_second = 25.0;
  int video_kbps = 1000;
  int audio_kbps = 128;

  // Empty when every setting is usable, else what is wrong with the first
  // that is not.
  QString problem() const;

  // The NSV header byte of the frame rate, and the same rate as ffmpeg's
  // exact fraction ("90000/3003" for 29.97).
  std::uint8_t frameRateByte() const;
  QString ffmpegFrameRate() const;
};

// Checks of one setting each; empty when fine.
QString frameSizeProblem(int width, int height);
QString frameRateProblem(double frames_per_second);
QString videoRateProblem(int video_kbps);
QString audioRateProblem(int audio_kbps);

// "640x360" into width and height; false when the text is not two whole
// numbers joined by an x.
bool parseFrameSize(const QString &text, int *width, int *height);

// "25", "29.97" or "30000/1001"; false when the text is not a positive number.
bool parseFrameRate(const QString &text, double *frames_per_second);

} // namespace convert
