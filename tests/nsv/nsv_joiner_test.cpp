// Joining NSV files: frame reading, format checks, audio offsets, and real
// files made by nsv-make checked with ffprobe.

#include "tests/support/file_size_limit.h"
#include "tests/support/nsv_fixtures.h"

#include "nsv/nsv_format.h"
#include "nsv/nsv_joiner.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray mp3Frame() {
  // MPEG-1 layer III, 128 kbit/s, 44.1 kHz: 417 bytes, 1152 samples.
  QByteArray frame(417, '\x22');
  frame[0] = '\xFF';
  frame[1] = '\xFB';
  frame[2] = '\x90';
  frame[3] = '\x00';
  return frame;
}

// frames video frames at 25 fps; audio_frames MP3 frames spread over them.
QByteArray videoWithAudio(int frames, int audio_frames, std::uint16_t width = 320) {
  nsv::StreamFormat format;
  format.width = width;
  format.height = 240;
  format.frame_rate_byte = 25;
  nsv::Writer writer(format);
  int audio_left = audio_frames;
  for (int index = 0; index < frames; ++index) {
    nsv::Frame frame;
    frame.sync = index % 25 == 0;
    frame.video = fixtures::filler(200);
    const int here = (index == frames - 1) ? audio_left : std::min(audio_left, audio_frames / frames + 1);
    for (int piece = 0; piece < here; ++piece) {
      frame.audio += mp3Frame();
    }
    audio_left -= here;
    writer.addFrame(frame);
  }
  return writer.finish(true);
}

QByteArray run(const QString &program, const QStringList &arguments) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  process.waitForFinished(120000);
  return process.exitCode() == 0 ? process.readAll().trimmed() : "failed: " + process.readAll();
}

class JoinerTest : public ::testing::Test {
protected:
  QString write(const QString &name, const QByteArray &bytes) {
    return fixtures::writeTestFile(temp_.path(), name, bytes);
  }
  QTemporaryDir temp_;
};

// A device that cannot seek, like a pipe.
class SequentialBuffer : public QBuffer {
public:
  bool isSequential() const override { return true; }
};

int countFrames(const QByteArray &bytes) {
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  nsv::FrameReader reader(buffer);
  nsv::FrameReader::RawFrame frame;
  int frames = 0;
  while (reader.next(&frame)) {
    ++frames;
  }
  return frames;
}

} // namespace

TEST(FrameReader, SkipsWhatPrecedesTheFirstSyncAndDropsAPartialFrame) {
  const QByteArray body = fixtures::nsvFile(10, 25, 100, 20);
  EXPECT_EQ(countFrames(body), 10);
  EXPECT_EQ(countFrames(fixtures::filler(333) + body), 10);
  EXPECT_EQ(countFrames(fixtures::nsvFile(10, 25, 100, 20, 25, true)), 10);
  EXPECT_EQ(countFrames(body.left(body.size() - 1)), 9);
  EXPECT_EQ(countFrames(fixtures::filler(5000)), 0);
  // Garbage between frames: reading goes on from the next sync frame.
  const QByteArray second = fixtures::nsvFile(3, 25, 100);
  EXPECT_EQ(countFrames(body + fixtures::filler(50) + second), 13);
  // A length past the end in the middle of a file: the frames after the
  // next sync frame are still read, not dropped with the broken one.
  QByteArray broken = body;
  const qsizetype last_frame = broken.size() - (2 + 5 + 100 + 20);
  ASSERT_EQ(broken.mid(last_frame, 2), QByteArray("\xEF\xBE"));
  broken.replace(last_frame + 2, 3, QByteArray(3, '\xFF'));
  EXPECT_EQ(countFrames(broken + second), 12);
}

TEST_F(JoinerTest, JoinsFramesUnderOneHeaderWithTableOfContents) {
  const QString first = write(QStringLiteral("a.nsv"), fixtures::filler(64) + fixtures::nsvFile(30, 25, 100, 0, 25, true));
  const QString second = write(QStringLiteral("b.nsv"), fixtures::nsvFile(20, 25, 150, 0, 10, true));
  const QString output = temp_.filePath(QStringLiteral("joined.nsv"));
  qint64 last_done = 0;
  qint64 last_total = -1;
  const nsv::JoinOutcome outcome = nsv::joinFiles({first, second}, output, [&](qint64 done, qint64 total) {
    EXPECT_GE(done, last_done);
    last_done = done;
    last_total = total;
  });
  ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
  EXPECT_EQ(outcome.frames, 50);
  EXPECT_EQ(outcome.length_ms, 2000u);

  QFile file(output);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray joined = file.readAll();
  EXPECT_EQ(last_done, joined.size());
  EXPECT_EQ(last_total, joined.size());
  ASSERT_TRUE(joined.startsWith("NSVf"));
  const quint32 header_bytes = nsv::readLe32(joined.constData() + 4);
  EXPECT_EQ(nsv::readLe32(joined.constData() + 8), static_cast<quint32>(joined.size()));
  EXPECT_EQ(nsv::readLe32(joined.constData() + 12), 2000u);
  const quint32 toc_entries = nsv::readLe32(joined.constData() + 24);
  EXPECT_EQ(toc_entries, 2u + 2u); // syncs at 0, 25 of the first; 0, 10 of the second
  for (quint32 entry = 0; entry < toc_entries; ++entry) {
    const quint32 offset = nsv::readLe32(joined.constData() + 28 + 4 * entry);
    EXPECT_EQ(joined.mid(header_bytes + offset, 4), "NSVs") << entry;
  }
  EXPECT_EQ(countFrames(joined), 50);
}

TEST_F(JoinerTest, ACancelLeavesNoNewFileAndAnOldOneAsItWas) {
  const QString first = write(QStringLiteral("a.nsv"), fixtures::nsvFile(100, 25, 1000));
  const QString second = write(QStringLiteral("b.nsv"), fixtures::nsvFile(100, 25, 1000));
  const QString output = temp_.filePath(QStringLiteral("joined.nsv"));
  std::atomic_bool cancel{false};
  qint64 done_at_cancel = 0;
  qint64 last_done = 0;
  const auto cancelHalfWay = [&](qint64 done, qint64 total) {
    last_done = done;
    if (!cancel && done >= total / 2) {
      cancel = true;
      done_at_cancel = done;
    }
  };
  const nsv::JoinOutcome half_way = nsv::joinFiles({first, second}, output, cancelHalfWay, &cancel);
  EXPECT_FALSE(half_way.ok);
  EXPECT_TRUE(half_way.cancelled);
  EXPECT_TRUE(half_way.error.contains("cancelled")) << half_way.error.toStdString();
  EXPECT_GT(done_at_cancel, 0);
  EXPECT_EQ(last_done, done_at_cancel); // not one frame more
  EXPECT_EQ(QDir(temp_.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"a.nsv", "b.nsv"}));

  // Over an existing file, and while the inputs are still being read.
  write(QStringLiteral("joined.nsv"), "kept");
  cancel = false;
  EXPECT_TRUE(nsv::joinFiles({first, second}, output, cancelHalfWay, &cancel).cancelled);
  cancel = true;
  EXPECT_TRUE(nsv::joinFiles({first, second}, output, {}, &cancel).cancelled);
  QFile kept(output);
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), "kept");
  EXPECT_EQ(QDir(temp_.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST_F(JoinerTest, LaterInputsAreShiftedByTheAudioOverhang) {
  // One second of video with 46 MP3 frames (1.2016 s) of audio: 202 ms over.
  const QString first = write(QStringLiteral("a.nsv"), videoWithAudio(25, 46));
  const QString second = write(QStringLiteral("b.nsv"), videoWithAudio(25, 38));
  const QString third = write(QStringLiteral("c.nsv"), videoWithAudio(25, 38));
  const QString output = temp_.filePath(QStringLiteral("joined.nsv"));
  ASSERT_TRUE(nsv::joinFiles({first, second, third}, output).ok);
  QFile file(output);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  nsv::FrameReader reader(file);
  nsv::FrameReader::RawFrame frame;
  QList<int> offsets;
  while (reader.next(&frame)) {
    if (frame.sync) {
      offsets << frame.sync_offset_ms;
    }
  }
  // 38 frames are 992.65 ms: the second input takes 7.35 ms back, and the
  // exact sum 201.63 - 7.35 = 194.28 is rounded once.
  EXPECT_EQ(offsets, (QList<int>{0, 202, 194}));
}

TEST_F(JoinerTest, MismatchedInputsAreRefusedAndNothingIsWritten) {
  const QString first = write(QStringLiteral("a.nsv"), videoWithAudio(10, 10, 320));
  const QString second = write(QStringLiteral("b.nsv"), videoWithAudio(10, 10, 320));
  const QString wider = write(QStringLiteral("wide.nsv"), videoWithAudio(10, 10, 640));
  const QString output = temp_.filePath(QStringLiteral("out.nsv"));
  const nsv::JoinOutcome outcome = nsv::joinFiles({first, second, wider}, output);
  EXPECT_FALSE(outcome.ok);
  EXPECT_TRUE(outcome.error.startsWith(wider)) << outcome.error.toStdString();
  EXPECT_FALSE(QFile::exists(output));

  const QString not_video = write(QStringLiteral("text.nsv"), "hello");
  EXPECT_FALSE(nsv::joinFiles({first, not_video}, output).ok);
  EXPECT_FALSE(QFile::exists(output));
}

TEST_F(JoinerTest, BadOutputsAreRefusedAndLeaveNoFile) {
  const QString first = write(QStringLiteral("a.nsv"), videoWithAudio(10, 10));
  const QByteArray first_bytes = videoWithAudio(10, 10);
  const nsv::JoinOutcome onto_input = nsv::joinFiles({first}, first);
  EXPECT_FALSE(onto_input.ok);
  EXPECT_TRUE(onto_input.error.contains("also one of the videos"));
  QFile input(first);
  ASSERT_TRUE(input.open(QIODevice::ReadOnly));
  EXPECT_EQ(input.readAll(), first_bytes);

  const QString unwritable = temp_.filePath(QStringLiteral("missing/out.nsv"));
  const nsv::JoinOutcome failed = nsv::joinFiles({first}, unwritable);
  EXPECT_FALSE(failed.ok);
  EXPECT_FALSE(failed.error.isEmpty());
  EXPECT_FALSE(QFile::exists(unwritable));
  EXPECT_TRUE(QDir(temp_.path()).entryList(QDir::Files).size() == 1);

  EXPECT_FALSE(nsv::joinFiles({}, temp_.filePath(QStringLiteral("x.nsv"))).ok);
}

TEST_F(JoinerTest, RealVideosJoinIntoOneThatFfprobeReadsWhole) {
  QStringList inputs;
  for (int index = 0; index < 2; ++index) {
    const QString path = temp_.filePath(QStringLiteral("part%1.nsv").arg(index));
    const QByteArray made = run(fixtures::builtTool(QStringLiteral("nsv-make")),
                                {QStringLiteral("--test-pattern"), QStringLiteral("2"), QStringLiteral("--tone-hz"),
                                 QString::number(300 + 200 * index), path});
    ASSERT_FALSE(made.startsWith("failed")) << made.toStdString();
    inputs << path;
  }
  const QString output = temp_.filePath(QStringLiteral("joined.nsv"));
  const nsv::JoinOutcome outcome = nsv::joinFiles(inputs, output);
  ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
  const QByteArray frames = run(QStringLiteral("ffprobe"),
                                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                                 QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                                 QStringLiteral("stream=nb_read_frames"), QStringLiteral("-of"), QStringLiteral("csv=p=0"),
                                 output});
  EXPECT_EQ(frames, "100");
  const QByteArray duration = run(QStringLiteral("ffprobe"),
                                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                                   QStringLiteral("format=duration"), QStringLiteral("-of"), QStringLiteral("csv=p=0"),
                                   output});
  EXPECT_NEAR(duration.toDouble(), 4.0, 0.05) << duration.toStdString();
}

TEST_F(JoinerTest, InputsThatCannotSeekAndOutputsOntoAnInputAreRefused) {
  const QByteArray video = videoWithAudio(10, 10);
  const QString first = write(QStringLiteral("a.nsv"), video);
  const QString second = write(QStringLiteral("b.nsv"), video);
  const QString output = temp_.filePath(QStringLiteral("out.nsv"));

  // A device or a pipe is refused before it is read without end or blocks the open.
  const QString pipe = temp_.filePath(QStringLiteral("pipe.nsv"));
  ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
  for (const QString &input : {QStringLiteral("/dev/zero"), pipe}) {
    const nsv::JoinOutcome outcome = nsv::joinFiles({first, input}, output);
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.error.contains("not a file the joiner can read")) << outcome.error.toStdString();
    EXPECT_FALSE(QFile::exists(output));
  }
  // A reader on a device that cannot seek stops at the first failed seek.
  SequentialBuffer device;
  device.setData(fixtures::filler(200000) + video);
  ASSERT_TRUE(device.open(QIODevice::ReadOnly));
  nsv::FrameReader reader(device);
  nsv::FrameReader::RawFrame frame;
  EXPECT_FALSE(reader.next(&frame));
  EXPECT_TRUE(reader.failed());

  // An output that is an input under another name: a symbolic or a hard link.
  ASSERT_TRUE(QFile::link(first, temp_.filePath(QStringLiteral("symbolic.nsv"))));
  ASSERT_EQ(::link(QFile::encodeName(second).constData(), QFile::encodeName(temp_.filePath("hard.nsv")).constData()), 0);
  for (const char *name : {"symbolic.nsv", "hard.nsv"}) {
    const nsv::JoinOutcome outcome = nsv::joinFiles({first, second}, temp_.filePath(QLatin1String(name)));
    EXPECT_FALSE(outcome.ok) << name;
    EXPECT_TRUE(outcome.error.contains("also one of the videos")) << outcome.error.toStdString();
  }
  for (const QString &input : {first, second}) {
    QFile file(input);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), video);
  }
}

TEST_F(JoinerTest, AFailedWriteNamesItsCauseAndKeepsTheOldOutput) {
  const QByteArray video = videoWithAudio(10, 10);
  const QString first = write(QStringLiteral("a.nsv"), video);
  const QString output = write(QStringLiteral("out.nsv"), "old");
  nsv::JoinOutcome outcome;
  {
    // Writes past 1000 bytes fail as on a full disk; the join is a few KB.
    FileSizeLimit limit(1000);
    ASSERT_TRUE(limit.active());
    outcome = nsv::joinFiles({first}, output);
  }
  EXPECT_FALSE(outcome.ok);
  EXPECT_TRUE(outcome.error.endsWith(qt_error_string(EFBIG))) << outcome.error.toStdString();
  QFile file(output);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "old");
}
