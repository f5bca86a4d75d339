// The conversion queue end to end: real ffmpeg and ffprobe on short videos
// made here, checked by decoding what comes out.

#include "tests/support/file_size_limit.h"
#include "tests/support/media_tools.h"
#include "tests/support/nsv_fixtures.h"
#include "tests/support/wait_until.h"

#include "broadcaster/import/conversion_queue.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

using State = ConversionQueue::State;

constexpr int kQueueTimeoutMs = 120000;

struct Finished {
  int index;
  QString title;
  QString path;
};

// Signals of one queue, as they came.
struct QueueRecorder {
  explicit QueueRecorder(ConversionQueue &queue) {
    QObject::connect(&queue, &ConversionQueue::fileChanged, [this, &queue](int index) {
      fractions[index].append(queue.files()[index].fraction);
    });
    QObject::connect(&queue, &ConversionQueue::fileFinished,
                     [this](int index, const QString &title, const QString &path) { finished.append({index, title, path}); });
    QObject::connect(&queue, &ConversionQueue::overallProgressed, [this](double fraction) { overall.append(fraction); });
    QObject::connect(&queue, &ConversionQueue::finished, [this] { ++queue_finished; });
  }

  QMap<int, QVector<double>> fractions;
  QVector<Finished> finished;
  QVector<double> overall;
  int queue_finished = 0;
};

QStringList folderEntries(const QString &folder) {
  QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  names.sort();
  return names;
}

// Picture and sound, 160x120.
QString makeVideo(const QTemporaryDir &temp, const QString &name, double seconds) {
  const QString path = temp.filePath(name);
  QByteArray errors;
  EXPECT_TRUE(media::makeTestClip(path, {seconds, true}, &errors)) << errors.toStdString();
  return path;
}

convert::EncodingSettings smallSettings() {
  convert::EncodingSettings settings;
  settings.width = 320;
  settings.height = 180;
  settings.frames_per_second = 29.97;
  settings.video_kbps = 300;
  settings.audio_kbps = 64;
  return settings;
}

} // namespace

TEST(ConversionQueue, ConvertsAFolderTwoAtATimeWithTitlesAndFreeNames) {
  QTemporaryDir temp;
  const QString inputs = temp.filePath(QStringLiteral("in"));
  const QString outputs = temp.filePath(QStringLiteral("out"));
  ASSERT_TRUE(QDir().mkpath(inputs) && QDir().mkpath(outputs));
  QByteArray errors;
  ASSERT_TRUE(media::makeTestClip(QDir(inputs).filePath(QStringLiteral("clip.mp4")), {1, false}, &errors))
      << errors.toStdString();
  ASSERT_TRUE(media::makeTestClip(QDir(inputs).filePath(QStringLiteral("show.mkv")),
                                  {2, true, QStringLiteral("Evening News"), QStringLiteral("192x108")}, &errors))
      << errors.toStdString();
  // Named the way the library tab would keep its title.
  const QString ready = QDir(inputs).filePath(QStringLiteral("Ready.NSV"));
  ASSERT_TRUE(fixtures::writeFile(ready, fixtures::nsvFile(10, 25, 100)));
  // A file of the name the first conversion wants is never overwritten.
  const QString older = QDir(outputs).filePath(QStringLiteral("clip.nsv"));
  ASSERT_TRUE(fixtures::writeFile(older, "older"));

  ConversionQueue queue(outputs, smallSettings(), 2);
  QueueRecorder recorder(queue);
  ASSERT_EQ(queue.add({inputs}), 3);
  queue.start();
  // Sorted by name; the NSV file is done at once, both others convert.
  ASSERT_EQ(queue.files().size(), 3);
  EXPECT_TRUE(queue.files()[0].input_path.endsWith(QLatin1String("clip.mp4")));
  EXPECT_EQ(queue.files()[0].state, State::Converting);
  EXPECT_EQ(queue.files()[1].state, State::Done);
  EXPECT_EQ(queue.files()[2].state, State::Converting);

  ASSERT_TRUE(waitUntil([&] { return recorder.queue_finished > 0; }, kQueueTimeoutMs));
  EXPECT_EQ(recorder.queue_finished, 1);
  EXPECT_FALSE(queue.isRunning());
  for (const ConversionQueue::File &file : queue.files()) {
    EXPECT_EQ(file.state, State::Done) << file.input_path.toStdString() << ": " << file.reason.toStdString();
  }

  const QString clip_output = QDir(outputs).filePath(QStringLiteral("clip (2).nsv"));
  const QString show_output = QDir(outputs).filePath(QStringLiteral("show.nsv"));
  ASSERT_EQ(recorder.finished.size(), 3);
  QMap<int, Finished> by_index;
  for (const Finished &finished : recorder.finished) {
    by_index.insert(finished.index, finished);
  }
  // Untagged: the library's title of the NSV file it became.
  EXPECT_EQ(by_index[0].title, QStringLiteral("clip (2)"));
  EXPECT_EQ(by_index[0].path, clip_output);
  EXPECT_EQ(by_index[1].title, QStringLiteral("Ready.NSV"));
  EXPECT_EQ(by_index[1].path, ready);
  EXPECT_EQ(by_index[2].title, QStringLiteral("Evening News"));
  EXPECT_EQ(by_index[2].path, show_output);
  EXPECT_EQ(folderEntries(outputs), (QStringList{QStringLiteral("clip (2).nsv"), QStringLiteral("clip.nsv"),
                                                 QStringLiteral("show.nsv")}));
  QFile kept(older);
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), "older");

  // Each file's progress only grows, passes through ffmpeg's own reports
  // (below 1) and ends whole; so does the overall one.
  for (const int index : {0, 2}) {
    const QVector<double> &fractions = recorder.fractions[index];
    ASSERT_FALSE(fractions.isEmpty());
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end())) << index;
    EXPECT_TRUE(std::any_of(fractions.begin(), fractions.end(), [](double f) { return f > 0 && f < 1; })) << index;
    EXPECT_DOUBLE_EQ(fractions.last(), 1.0);
  }
  ASSERT_FALSE(recorder.overall.isEmpty());
  EXPECT_TRUE(std::is_sorted(recorder.overall.begin(), recorder.overall.end()));
  EXPECT_DOUBLE_EQ(recorder.overall.last(), 1.0);

  // Whole NSV files at the chosen size and rate: 29.97 frames a second.
  const struct {
    QString path;
    int frames;
    bool sound;
  } outputs_made[] = {{clip_output, 30, false}, {show_output, 60, true}};
  for (const auto &made : outputs_made) {
    EXPECT_EQ(media::probeStream(made.path, QStringLiteral("v:0"), QStringLiteral("codec_name,width,height,r_frame_rate")),
              "vp8,320,180,30000/1001");
    EXPECT_NEAR(media::countVideoFrames(made.path), made.frames, 2) << made.path.toStdString();
    EXPECT_EQ(media::decodingProblems(made.path), QByteArray()) << made.path.toStdString();
    EXPECT_EQ(media::probeStream(made.path, QStringLiteral("a:0"), QStringLiteral("codec_name,sample_rate,channels")),
              made.sound ? QByteArray("mp3,44100,2") : QByteArray());
  }
}

TEST(ConversionQueue, FailedFilesAreListedWithTheirReasonAndLeaveNothing) {
  QTemporaryDir temp;
  const QString outputs = temp.filePath(QStringLiteral("out"));
  const QString sound = temp.filePath(QStringLiteral("sound.m4a"));
  const QString whole = temp.filePath(QStringLiteral("whole.mp4"));
  const QString cut = temp.filePath(QStringLiteral("cut.mp4"));
  const QString text = temp.filePath(QStringLiteral("notes.mp4"));
  QByteArray errors;
  ASSERT_TRUE(media::makeMedia({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                QStringLiteral("sine=duration=1"), sound},
                               &errors))
      << errors.toStdString();
  ASSERT_TRUE(media::makeTestClip(whole, {1, true}, &errors))
      << errors.toStdString();
  // Cut in half: the index that ffmpeg writes at the end is gone.
  QFile whole_file(whole);
  ASSERT_TRUE(whole_file.open(QIODevice::ReadOnly));
  ASSERT_TRUE(fixtures::writeFile(cut, whole_file.read(whole_file.size() / 2)));
  ASSERT_TRUE(fixtures::writeFile(text, "Not a video at all, only words.\n"));

  ConversionQueue queue(outputs, smallSettings(), 1);
  QueueRecorder recorder(queue);
  queue.add({sound, cut, text});
  queue.start();
  ASSERT_TRUE(waitUntil([&] { return recorder.queue_finished > 0; }, kQueueTimeoutMs));

  for (const ConversionQueue::File &file : queue.files()) {
    EXPECT_EQ(file.state, State::Failed) << file.input_path.toStdString();
    EXPECT_FALSE(file.reason.isEmpty()) << file.input_path.toStdString();
  }
  EXPECT_TRUE(queue.files()[0].reason.contains(QLatin1String("no video stream"))) << queue.files()[0].reason.toStdString();
  EXPECT_TRUE(queue.files()[1].reason.contains(QLatin1String("Invalid data"))) << queue.files()[1].reason.toStdString();
  EXPECT_TRUE(queue.files()[2].reason.contains(QLatin1String("Invalid data"))) << queue.files()[2].reason.toStdString();
  EXPECT_TRUE(recorder.finished.isEmpty());
  EXPECT_DOUBLE_EQ(queue.overallFraction(), 1.0);
  EXPECT_EQ(folderEntries(outputs), QStringList());
}

TEST(ConversionQueue, CancelStopsTheRunningFileAndKeepsTheFinishedOne) {
  QTemporaryDir temp;
  const QString outputs = temp.filePath(QStringLiteral("out"));
  const QString first = temp.filePath(QStringLiteral("first.mp4"));
  QByteArray errors;
  ASSERT_TRUE(media::makeTestClip(first, {2, true}, &errors))
      << errors.toStdString();
  const QString second = temp.filePath(QStringLiteral("second.mp4"));
  const QString third = temp.filePath(QStringLiteral("third.mp4"));
  ASSERT_TRUE(QFile::copy(first, second) && QFile::copy(first, third));

  ConversionQueue queue(outputs, smallSettings(), 1);
  QueueRecorder recorder(queue);
  bool cancelled_while_converting = false;
  // Cancel at ffmpeg's first report on the second file: it has written
  // output by then, and has not been seen to end.
  QObject::connect(&queue, &ConversionQueue::fileChanged, [&](int index) {
    const ConversionQueue::File &file = queue.files()[index];
    if (index == 1 && file.state == State::Converting && file.fraction > 0 && !cancelled_while_converting) {
      cancelled_while_converting = true;
      queue.cancel();
    }
  });
  queue.add({first, second, third});
  queue.start();
  ASSERT_TRUE(waitUntil([&] { return recorder.queue_finished > 0; }, kQueueTimeoutMs));

  EXPECT_TRUE(cancelled_while_converting);
  EXPECT_EQ(queue.files()[0].state, State::Done);
  EXPECT_EQ(queue.files()[1].state, State::Cancelled);
  EXPECT_EQ(queue.files()[2].state, State::Cancelled);
  ASSERT_EQ(recorder.finished.size(), 1);
  EXPECT_EQ(recorder.finished[0].path, QDir(outputs).filePath(QStringLiteral("first.nsv")));
  EXPECT_EQ(folderEntries(outputs), QStringList{QStringLiteral("first.nsv")});
  EXPECT_GT(media::countVideoFrames(recorder.finished[0].path), 0);
}

TEST(ConversionQueue, AFolderWithoutRoomIsToldBeforeFfmpegStarts) {
  QTemporaryDir temp;
  const QString input = makeVideo(temp, QStringLiteral("long.mp4"), 4);
  const QString outputs = temp.filePath(QStringLiteral("out"));
  QStringList asked;
  ConversionQueue queue(outputs, smallSettings(), 1, [&asked](const QString &folder) {
    asked << folder;
    return qint64(100000);
  });
  QueueRecorder recorder(queue);
  queue.add({input});
  queue.start();
  ASSERT_TRUE(waitUntil([&] { return recorder.queue_finished > 0; }, kQueueTimeoutMs));
  EXPECT_EQ(asked, QStringList{outputs});
  EXPECT_EQ(queue.files()[0].state, State::Failed);
  // 4 s at 364 kbit/s is 182 kB; the streams and the file made of them, with room to spare.
  static const QRegularExpression figures(QStringLiteral("^needs about 1\\.\\d MB, 100 kB free in %1$")
                                              .arg(QRegularExpression::escape(outputs)));
  EXPECT_TRUE(figures.match(queue.files()[0].reason).hasMatch()) << queue.files()[0].reason.toStdString();
  EXPECT_EQ(folderEntries(outputs), QStringList());
}

TEST(ConversionQueue, AWriteThatFailsStopsTheConversionAtOnce) {
  QTemporaryDir temp;
  const QString input = makeVideo(temp, QStringLiteral("long.mp4"), 60);
  const QString outputs = temp.filePath(QStringLiteral("out"));
  ConversionQueue queue(outputs, smallSettings(), 1);
  QueueRecorder recorder(queue);
  queue.add({input});
  {
    // ffmpeg inherits the limit: its files stop growing a few seconds in, as on a full disk.
    FileSizeLimit limit(64 * 1024);
    ASSERT_TRUE(limit.active());
    queue.start();
    ASSERT_TRUE(waitUntil([&] { return recorder.queue_finished > 0; }, kQueueTimeoutMs));
  }
  EXPECT_EQ(queue.files()[0].state, State::Failed);
  EXPECT_EQ(queue.files()[0].reason, QStringLiteral("cannot write in %1: File too large").arg(outputs));
  // Stopped near where the write failed, not at the end of the minute.
  const QVector<double> &fractions = recorder.fractions[0];
  ASSERT_FALSE(fractions.isEmpty());
  EXPECT_LT(fractions.last(), 0.5);
  EXPECT_EQ(folderEntries(outputs), QStringList());
}

TEST(ConversionQueue, AFileNamedTwiceIsTakenOnce) {
  QTemporaryDir temp;
  const QString folder = temp.filePath(QStringLiteral("in"));
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString video = folder + QStringLiteral("/a.nsv");
  ASSERT_TRUE(fixtures::writeFile(video, fixtures::nsvFile(3, 25, 100)));
  const QString link = temp.filePath(QStringLiteral("link.nsv"));
  ASSERT_TRUE(QFile::link(video, link));
  ConversionQueue queue(temp.filePath(QStringLiteral("out")), smallSettings(), 1);
  // The folder, then the file in it, then a link to it.
  ASSERT_EQ(queue.add({folder, video, link}), 3);
  queue.start();
  ASSERT_EQ(queue.files().size(), 3);
  EXPECT_EQ(queue.files()[0].state, State::Done);
  for (int index : {1, 2}) {
    EXPECT_EQ(queue.files()[index].state, State::Failed) << index;
    EXPECT_EQ(queue.files()[index].reason, QStringLiteral("it is listed already")) << index;
  }
}
