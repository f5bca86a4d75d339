#include "nsv/elementary_streams.h"
#include "nsv/nsv_format.h"

#include <gtest/gtest.h>

#include <QBuffer>

TEST(FrameRateByte, DecodesTheTable) {
  const struct {
    int byte;
    double rate;
  } cases[] = {{0, 0.0},        {25, 25.0},       {127, 127.0},     {0x80, 30.0},   {0x81, 29.97003},
               {0x82, 25.0},    {0x83, 23.98082}, {0x84, 15.0},     {0x86, 12.5},   {0xBF, 1.4988},
               {0xC0, 30.0},    {0xC4, 60.0},     {0xFC, 480.0},    {0xC1, 29.97003}};
  for (const auto &entry : cases) {
    EXPECT_NEAR(nsv::frameRateFromByte(static_cast<std::uint8_t>(entry.byte)), entry.rate, 5e-5) << entry.byte;
  }
  // 0x83 uses 3753 ticks, not 3753.75.
  EXPECT_DOUBLE_EQ(nsv::frameRateFromByte(0x83), 90000.0 / 3753.0);
}

TEST(FrameRateByte, StoresWholeAndBroadcastRatesExactly) {
  const struct {
    double rate;
    int byte;
    int numerator;
    int denominator;
  } cases[] = {{25.0, 25, 25, 1}, {1.0, 1, 1, 1},         {127.0, 127, 127, 1},    {29.97, 0x81, 90000, 3003},
               {23.976, 0x83, 90000, 3753}, {59.94, 0xC5, 180000, 3003}, {12.5, 0x86, 90000, 7200}};
  for (const auto &entry : cases) {
    const std::uint8_t rate_byte = nsv::frameRateByteFor(entry.rate);
    EXPECT_EQ(rate_byte, entry.byte) << entry.rate;
    const nsv::FrameRateFraction fraction = nsv::frameRateFractionFromByte(rate_byte);
    EXPECT_EQ(fraction.numerator, entry.numerator) << entry.rate;
    EXPECT_EQ(fraction.denominator, entry.denominator) << entry.rate;
    EXPECT_NEAR(static_cast<double>(fraction.numerator) / fraction.denominator, nsv::frameRateFromByte(rate_byte), 1e-9);
  }
  for (const double unstorable : {0.0, 29.5, 500.0, -25.0}) {
    EXPECT_EQ(nsv::frameRateByteFor(unstorable), 0) << unstorable;
  }
}

TEST(NsvFrames, SyncFrameLayout) {
  nsv::StreamFormat format;
  format.width = 320;
  format.height = 240;
  format.frame_rate_byte = 0x82;
  nsv::Frame frame;
  frame.sync = true;
  frame.sync_offset_ms = -2;
  frame.video = QByteArray(0x12345, 'v');
  frame.audio = QByteArray(7, 'a');
  const QByteArray bytes = nsv::encodeFrame(format, frame);
  ASSERT_EQ(bytes.size(), 19 + 5 + 0x12345 + 7);
  EXPECT_EQ(bytes.left(12), "NSVsVP80MP3 ");
  EXPECT_EQ(nsv::readLe16(bytes.constData() + 12), 320);
  EXPECT_EQ(nsv::readLe16(bytes.constData() + 14), 240);
  EXPECT_EQ(static_cast<unsigned char>(bytes[16]), 0x82);
  EXPECT_EQ(static_cast<qint16>(nsv::readLe16(bytes.constData() + 17)), -2);
  // Aux count 0 in the low nibble, video length in the next 20 bits.
  const quint32 packed = static_cast<unsigned char>(bytes[19]) | (nsv::readLe16(bytes.constData() + 20) << 8);
  EXPECT_EQ(packed & 0x0F, 0u);
  EXPECT_EQ(packed >> 4, 0x12345u);
  EXPECT_EQ(nsv::readLe16(bytes.constData() + 22), 7);
}

TEST(NsvFrames, PlainFrameAndLimits) {
  nsv::StreamFormat format;
  nsv::Frame frame;
  frame.video = QByteArray(3, 'v');
  const QByteArray bytes = nsv::encodeFrame(format, frame);
  EXPECT_EQ(bytes.left(2), QByteArray("\xEF\xBE"));
  EXPECT_EQ(bytes.size(), 2 + 5 + 3);
  frame.audio = QByteArray(nsv::kMaxAudioBytes + 1, 'a');
  EXPECT_TRUE(nsv::encodeFrame(format, frame).isEmpty());
}

TEST(NsvWriter, FileHeaderCountsSizeLengthAndSyncOffsets) {
  nsv::StreamFormat format;
  format.frame_rate_byte = 25;
  nsv::Writer writer(format);
  for (int index = 0; index < 50; ++index) {
    nsv::Frame frame;
    frame.sync = index % 25 == 0;
    frame.video = QByteArray(10, 'v');
    ASSERT_TRUE(writer.addFrame(frame));
  }
  const QByteArray file = writer.finish(true);
  ASSERT_TRUE(file.startsWith("NSVf"));
  const quint32 header_bytes = nsv::readLe32(file.constData() + 4);
  EXPECT_EQ(header_bytes, 28u + 2 * 4);
  EXPECT_EQ(nsv::readLe32(file.constData() + 8), static_cast<quint32>(file.size()));
  EXPECT_EQ(nsv::readLe32(file.constData() + 12), 2000u);
  // Read back as the file's play length; a file without the header has none.
  EXPECT_EQ(nsv::fileLengthMs(file.left(64)), 2000);
  EXPECT_EQ(nsv::fileLengthMs(writer.finish(false).left(64)), -1);
  EXPECT_EQ(nsv::fileLengthMs(file.left(20)), -1);
  EXPECT_EQ(nsv::readLe32(file.constData() + 24), 2u);
  const quint32 second_sync = nsv::readLe32(file.constData() + 32);
  EXPECT_EQ(file.mid(header_bytes + second_sync, 4), "NSVs");
  EXPECT_EQ(file.mid(header_bytes, 4), "NSVs");
  EXPECT_EQ(writer.finish(false), file.mid(header_bytes));
}

TEST(NsvWriter, TheSizeLimitCountsTheHeaderAndItsTable) {
  // The header's own size is what the limit adds to the body.
  EXPECT_EQ(nsv::fileHeaderBytes(3), nsv::fileHeader(0, 0, {0, 10, 20}).size());
  // A body just under the limit no longer fits once its header is counted.
  const qint64 sync_frames = 1000;
  const qint64 largest_body = nsv::kMaxFileBytes - nsv::fileHeaderBytes(sync_frames);
  EXPECT_TRUE(nsv::fitsInOneFile(largest_body, sync_frames));
  EXPECT_FALSE(nsv::fitsInOneFile(largest_body + 1, sync_frames));
  EXPECT_FALSE(nsv::fitsInOneFile(largest_body, sync_frames + 1));
  EXPECT_FALSE(nsv::fitsInOneFile(nsv::kMaxFileBytes - 10, 0));
}

TEST(ElementaryStreams, SplitsMp3FramesAndSkipsJunk) {
  // MPEG-1 layer III, 128 kbit/s, 44100 Hz: 417 bytes, 418 with padding.
  QByteArray frame(417, '\0');
  frame[0] = '\xFF';
  frame[1] = '\xFB';
  frame[2] = '\x90';
  QByteArray padded(418, '\0');
  padded[0] = '\xFF';
  padded[1] = '\xFB';
  padded[2] = '\x92';
  const QByteArray stream = QByteArray("ID3junk") + frame + padded + QByteArray(100, '\0');
  const QVector<nsv::AudioPacket> frames = nsv::splitMp3Frames(stream);
  ASSERT_EQ(frames.size(), 2);
  EXPECT_EQ(frames[0].data, frame);
  EXPECT_EQ(frames[1].data, padded);
  EXPECT_NEAR(frames[0].duration_s, 1152.0 / 44100.0, 1e-12);

  // Read a piece at a time: frames across the pieces' edges, junk between some.
  QByteArray long_stream;
  for (int index = 0; index < 400; ++index) {
    long_stream += (index % 2 == 0 ? frame : padded) + (index % 50 == 0 ? QByteArray("junk") : QByteArray());
  }
  const QVector<nsv::AudioPacket> long_frames = nsv::splitMp3Frames(long_stream);
  ASSERT_EQ(long_frames.size(), 400);
  EXPECT_EQ(long_frames[157].data, padded);
  EXPECT_EQ(long_frames[398].data, frame);
}

TEST(ElementaryStreams, ParsesIvfAndMarksKeyFrames) {
  QByteArray ivf("DKIF");
  nsv::appendLe16(ivf, 0);
  nsv::appendLe16(ivf, 32);
  ivf += "VP80";
  nsv::appendLe16(ivf, 160);
  nsv::appendLe16(ivf, 120);
  nsv::appendLe32(ivf, 25);
  nsv::appendLe32(ivf, 1);
  nsv::appendLe32(ivf, 2);
  nsv::appendLe32(ivf, 0);
  for (const char first_byte : {'\x10', '\x11'}) {
    nsv::appendLe32(ivf, 3);
    ivf += QByteArray(8, '\0');
    ivf += QByteArray(1, first_byte) + "xy";
  }
  const nsv::IvfStream stream = nsv::parseIvf(ivf);
  ASSERT_TRUE(stream.valid);
  EXPECT_EQ(stream.width, 160);
  EXPECT_EQ(stream.height, 120);
  ASSERT_EQ(stream.packets.size(), 2);
  EXPECT_TRUE(stream.packets[0].key_frame);
  EXPECT_FALSE(stream.packets[1].key_frame);

  EXPECT_FALSE(nsv::parseIvf(ivf.left(ivf.size() - 1)).valid);
  EXPECT_FALSE(nsv::parseIvf("RIFF").valid);

  // Muxed: a sync frame, then a plain one.
  const QByteArray muxed = nsv::muxToNsv(stream, {}, 25, false);
  EXPECT_TRUE(muxed.startsWith("NSVsVP80NONE"));
  EXPECT_EQ(muxed.mid(19 + 5 + 3, 2), QByteArray("\xEF\xBE"));

  // Streamed from the file to a body device, the header asked for last:
  // the same bytes as in memory.
  QBuffer ivf_file;
  ivf_file.setData(ivf);
  ASSERT_TRUE(ivf_file.open(QIODevice::ReadOnly));
  nsv::IvfReader reader(ivf_file);
  nsv::IvfStream header;
  ASSERT_TRUE(reader.readHeader(&header));
  QBuffer body;
  ASSERT_TRUE(body.open(QIODevice::WriteOnly));
  nsv::Writer writer(nsv::muxFormat(header, false, 25), &body);
  EXPECT_EQ(nsv::muxFrames([&reader](nsv::VideoPacket *packet) { return reader.next(packet); },
                           [](nsv::AudioPacket *) { return false; }, writer),
            nsv::MuxOutcome::Done);
  EXPECT_TRUE(reader.endedCleanly());
  EXPECT_EQ(writer.header() + body.data(), nsv::muxToNsv(stream, {}, 25, true));
}
