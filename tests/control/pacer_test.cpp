// The pacer on its own: a recording sink and a clock that the test moves,
// no sockets and no threads. Time jumps to the end of every wait.

#include "tests/support/nsv_fixtures.h"

#include "control/nsv_pacer.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QRandomGenerator>

#include <cmath>
#include <set>
#include <functional>
#include <vector>

using pellox::NsvPacer;
using pellox::PaceOutcome;
using pellox::PaceStep;
using pellox::PacingMode;

namespace {

struct SentBlock {
  std::uint32_t at_ms = 0;
  QByteArray bytes;
};

class RecordingSink : public pellox::PacerSink {
public:
  explicit RecordingSink(const std::uint32_t &now_ms) : now_ms_(now_ms) {}

  bool isConnected() const override { return connected; }
  bool sendBlock(const QByteArray &block) override {
    sent.push_back({now_ms_, block});
    queued_bytes += block.size();
    if (after_send) {
      after_send();
    }
    return send_succeeds;
  }
  qint64 bytesNotTaken() const override { return queued_bytes; }
  void setProgress(int percent) override { progress.push_back(percent); }

  QByteArray allBytes() const {
    QByteArray bytes;
    for (const SentBlock &block : sent) {
      bytes += block.bytes;
    }
    return bytes;
  }
  std::vector<std::uint32_t> sendTimes() const {
    std::vector<std::uint32_t> times;
    for (const SentBlock &block : sent) {
      times.push_back(block.at_ms);
    }
    return times;
  }

  bool connected = true;
  bool send_succeeds = true;
  // What the connection still holds; tests drain it as a server would.
  qint64 queued_bytes = 0;
  std::vector<SentBlock> sent;
  std::vector<int> progress;
  std::function<void()> after_send;

private:
  const std::uint32_t &now_ms_;
};

// Runs files through the pacer as the sending thread would: the clock jumps
// to the end of each wait (late_wake_ms later, if set); a wait for room lasts
// 20 ms. on_wait runs at every wait, as a server's or an operator's action.
// One schedule carries over from file to file, as on one connection.
struct PacerRun {
  PaceOutcome run(const QByteArray &bytes, double frames_per_second, PacingMode mode = PacingMode::HoldRule,
                  qint64 start_offset = 0) {
    QBuffer file;
    file.setData(bytes);
    file.open(QIODevice::ReadOnly);
    NsvPacer pacer(file, start_offset, frames_per_second, mode, schedule);
    pacer.setSecondObserver([this](std::uint32_t interval_ms) { seconds_ms.push_back(interval_ms); });
    for (int steps = 0; steps < 10'000'000; ++steps) {
      const PaceStep step = pacer.advance(now_ms, sink);
      late_ms = pacer.lateMs(now_ms);
      most_late_ms = std::max(most_late_ms, late_ms);
      behind_ms = pacer.behindMs(now_ms);
      if (step.kind == PaceStep::Kind::Finished) {
        schedule.advance(pacer.sentVideoMs());
        return step.outcome;
      }
      now_ms = step.kind == PaceStep::Kind::WaitUntil ? step.until_ms + late_wake_ms : now_ms + 20;
      if (on_wait) {
        on_wait(step);
      }
    }
    ADD_FAILURE() << "the pacer never finished";
    return PaceOutcome::SendFailed;
  }

  std::uint32_t now_ms = 0;
  std::uint32_t late_wake_ms = 0;
  std::int64_t late_ms = 0;
  std::int64_t most_late_ms = 0;
  std::int64_t behind_ms = 0;
  pellox::StreamSchedule schedule;
  RecordingSink sink{now_ms};
  std::function<void(const PaceStep &)> on_wait;
  std::vector<std::uint32_t> seconds_ms;
};

// A server that reads everything at once.
void readEverything(PacerRun &run) {
  run.sink.after_send = [&run] { run.sink.queued_bytes = 0; };
}

} // namespace

TEST(SyncSearch, FindsHeaderAtStartPrefixedAndAfterStraddle) {
  QBuffer at_start;
  at_start.setData(fixtures::nsvFile(3, 0x82, 100));
  at_start.open(QIODevice::ReadOnly);
  pellox::SyncSearchResult result = pellox::findFirstSync(at_start);
  EXPECT_TRUE(result.found);
  EXPECT_EQ(result.start_offset, 0);
  EXPECT_EQ(result.rate_byte, 0x82);

  QBuffer prefixed;
  prefixed.setData(fixtures::filler(100) + fixtures::nsvFile(3, 25, 100));
  prefixed.open(QIODevice::ReadOnly);
  result = pellox::findFirstSync(prefixed);
  EXPECT_EQ(result.start_offset, 100);
  EXPECT_EQ(result.rate_byte, 25);

  // A header that starts at 1022 straddles the first two blocks and is not
  // seen; the next one, at 3000, is used.
  QByteArray straddling = fixtures::filler(1022) + fixtures::nsvFile(1, 0x80, 10);
  straddling += fixtures::filler(3000 - straddling.size());
  straddling += fixtures::nsvFile(2, 0x86, 10);
  QBuffer straddle;
  straddle.setData(straddling);
  straddle.open(QIODevice::ReadOnly);
  result = pellox::findFirstSync(straddle);
  EXPECT_TRUE(result.found);
  EXPECT_EQ(result.start_offset, 3000);
  EXPECT_EQ(result.rate_byte, 0x86);
}

TEST(SyncSearch, WithoutHeaderStartsAtFirstByteWithRateZero) {
  QBuffer none;
  none.setData(fixtures::filler(5000));
  none.open(QIODevice::ReadOnly);
  const pellox::SyncSearchResult result = pellox::findFirstSync(none);
  EXPECT_FALSE(result.found);
  EXPECT_EQ(result.start_offset, 0);
  EXPECT_EQ(result.rate_byte, 0);

  // A header cut off before its rate byte is no frame: nothing is found.
  QBuffer truncated;
  truncated.setData(fixtures::filler(10) + QByteArray("NSVsVP80"));
  truncated.open(QIODevice::ReadOnly);
  const pellox::SyncSearchResult cut = pellox::findFirstSync(truncated);
  EXPECT_FALSE(cut.found);
}

TEST(SyncSearch, ChanceMarkersInOtherDataAreNoSyncFrame) {
  // Compressed data, as a mislabelled MP4 holds, with "NSVs" and a rate byte
  // planted where chance could put them.
  QRandomGenerator random(7);
  QByteArray noise(2 * 1024 * 1024, Qt::Uninitialized);
  random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
  noise.replace(5000, 4, "NSVs");
  noise[5000 + 16] = 25;
  QBuffer other;
  other.setData(noise);
  other.open(QIODevice::ReadOnly);
  EXPECT_FALSE(pellox::findFirstSync(other).found);

  // Before a real stream, such a marker is passed over for the real one.
  QByteArray prefixed = noise.left(8192) + fixtures::nsvFile(3, 30, 100);
  QBuffer real;
  real.setData(prefixed);
  real.open(QIODevice::ReadOnly);
  const pellox::SyncSearchResult found = pellox::findFirstSync(real);
  EXPECT_TRUE(found.found);
  EXPECT_EQ(found.start_offset, 8192);
  EXPECT_EQ(found.rate_byte, 30);
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(pellox::roundHalfEven(0.5), 0.0);
  EXPECT_EQ(pellox::roundHalfEven(1.5), 2.0);
  EXPECT_EQ(pellox::roundHalfEven(2.5), 2.0);
  EXPECT_EQ(pellox::roundHalfEven(0.02997), 0.0);
  EXPECT_EQ(pellox::roundHalfEven(-0.5), 0.0);
  EXPECT_EQ(pellox::roundHalfEven(1.03), 1.0);
}

TEST(HoldRule, SendsFromTheStartOffsetInWholeBlocksAndTheFilesOwnLastBytes) {
  const QByteArray file = fixtures::filler(100) + fixtures::nsvFile(40, 25, 100);
  PacerRun run;
  readEverything(run);
  ASSERT_EQ(run.run(file, 25.0, PacingMode::HoldRule, 100), PaceOutcome::Completed);
  EXPECT_EQ(run.sink.allBytes(), file.mid(100));
  for (size_t index = 0; index + 1 < run.sink.sent.size(); ++index) {
    EXPECT_EQ(run.sink.sent[index].bytes.size(), 1024);
  }
  EXPECT_EQ(run.sink.sent.back().bytes.size(), (file.size() - 100) % 1024);

  // Shorter than one block: one send of the file as it is.
  const QByteArray tiny = fixtures::nsvFile(2, 25, 50);
  PacerRun tiny_run;
  ASSERT_EQ(tiny_run.run(tiny, 25.0), PaceOutcome::Completed);
  ASSERT_EQ(tiny_run.sink.sent.size(), 1u);
  EXPECT_EQ(tiny_run.sink.sent[0].bytes, tiny);
}

TEST(HoldRule, HoldsAfterOneSecondOfFramesUntilMoreThan950ms) {
  // r = 25, five frames per block: a hold after every fifth block.
  PacerRun run;
  readEverything(run);
  ASSERT_EQ(run.run(fixtures::framesPerBlock(std::vector<int>(12, 5)), 25.0), PaceOutcome::Completed);
  const std::vector<std::uint32_t> times = run.sink.sendTimes();
  ASSERT_EQ(times.size(), 12u);
  for (int block = 0; block < 12; ++block) {
    EXPECT_EQ(times[block], static_cast<std::uint32_t>(block / 5) * 951u) << block;
  }
  // Progress at each hold: (bytes read + 1) / length, rounded.
  EXPECT_EQ(run.sink.progress, (std::vector<int>{42, 83})); // 5121 and 10241 of 12288
  EXPECT_EQ(run.seconds_ms, (std::vector<std::uint32_t>{951, 951}));

  // Measured across the wrap of the millisecond counter.
  PacerRun wrapping;
  wrapping.now_ms = 0xFFFFFF00u;
  ASSERT_EQ(wrapping.run(fixtures::framesPerBlock({25, 0}), 25.0), PaceOutcome::Completed);
  const std::vector<std::uint32_t> wrapped = wrapping.sink.sendTimes();
  ASSERT_EQ(wrapped.size(), 2u);
  EXPECT_EQ(static_cast<std::uint32_t>(wrapped[1] - wrapped[0]), 951u);
}

TEST(HoldRule, FrameCounterKeepsWholeFramesRoundedHalfToEven) {
  const double ntsc = 90000.0 / 3003.0;
  const struct {
    const char *what;
    double rate;
    std::vector<int> frames_per_block;
    std::vector<std::uint32_t> send_times;
  } cases[] = {
      // 30 frames at 29.97003 hold and leave 0, so 29 more do not hold yet.
      {"non-integer rate rounds away", ntsc, {30, 29, 1, 0}, {0, 951, 951, 1902}},
      // 31 leave 1, so the next 29 reach 30 and hold.
      {"whole remainder kept", ntsc, {31, 29, 0}, {0, 951, 1902}},
      // r = 12.5: 13 leaves 0.5 -> 0; 12 more stay below 12.5.
      {"half to even", 12.5, {13, 12, 0}, {0, 951, 951}},
      // 14 leaves 1.5 -> 2; 11 more make 13 and hold.
      {"one and a half to two", 12.5, {14, 11, 0}, {0, 951, 1902}},
  };
  for (const auto &entry : cases) {
    SCOPED_TRACE(entry.what);
    PacerRun run;
    ASSERT_EQ(run.run(fixtures::framesPerBlock(entry.frames_per_block), entry.rate), PaceOutcome::Completed);
    EXPECT_EQ(run.sink.sendTimes(), entry.send_times);
  }
}

TEST(HoldRule, FramesAtBlockStartsAndAcrossBlocksCount) {
  // At one frame per second every counted frame holds: the sync frame at 0,
  // a frame whose sync word straddles blocks 0 and 1 (counted in block 1)
  // and one that starts block 2.
  const QByteArray file = fixtures::frameOfSize(1023, true, 1) + fixtures::frameOfSize(1025, false) +
                          fixtures::frameOfSize(1024, false);
  PacerRun run;
  readEverything(run);
  ASSERT_EQ(run.run(file, 1.0), PaceOutcome::Completed);
  EXPECT_EQ(run.sink.sendTimes(), (std::vector<std::uint32_t>{0, 951, 1902}));
  EXPECT_EQ(run.now_ms, 2853u);
}

TEST(HoldRule, EndsOnAClosedConnectionOrARefusedSendOrAFramelessStretch) {
  // The connection closes during the first hold: the next block is not sent.
  PacerRun closed;
  closed.on_wait = [&closed](const PaceStep &) { closed.sink.connected = false; };
  ASSERT_EQ(closed.run(fixtures::framesPerBlock(std::vector<int>(4, 25)), 25.0), PaceOutcome::ConnectionLost);
  EXPECT_EQ(closed.sink.sendTimes(), (std::vector<std::uint32_t>{0}));

  PacerRun refused;
  refused.sink.send_succeeds = false;
  ASSERT_EQ(refused.run(fixtures::filler(3 * 1024), 25.0), PaceOutcome::SendFailed);
  EXPECT_EQ(refused.sink.sent.size(), 1u);

  // A real stream with megabytes of other data behind it.
  QRandomGenerator random(11);
  QByteArray noise(6 * 1024 * 1024, Qt::Uninitialized);
  random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
  const QByteArray stream = fixtures::nsvFile(50, 25, 1000);
  PacerRun frameless;
  readEverything(frameless);
  EXPECT_EQ(frameless.run(stream + noise, 25), PaceOutcome::NoFrames);
  EXPECT_LE(frameless.sink.allBytes().size(), stream.size() + pellox::kFramelessBytes + 2 * pellox::kBlockBytes);
}

TEST(PacerQueue, FullQueueWaitsAndGivesUpAfter15sWithoutProgress) {
  // Nothing drains: the pacer stops sending once the queue is full, then waits.
  // One frame per block at 25 fps is 25 KiB/s, so the floor of 256 KiB
  // applies; at 40 KiB frames two seconds of stream (about 2 MB) do.
  const struct {
    int frame_bytes;
    int frame_count;
    qint64 min_queue_bytes;
    qint64 max_queue_bytes;
  } cases[] = {{1024, 600, 256 * 1024, 256 * 1024}, {40 * 1024, 100, 1900 * 1024, 2100 * 1024}};
  for (const auto &entry : cases) {
    SCOPED_TRACE(entry.frame_bytes);
    QByteArray file;
    for (int frame = 0; frame < entry.frame_count; ++frame) {
      file += fixtures::frameOfSize(entry.frame_bytes, frame % 25 == 0);
    }
    PacerRun run;
    ASSERT_EQ(run.run(file, 25.0), PaceOutcome::ServerStoppedReading);
    EXPECT_GE(run.sink.queued_bytes, entry.min_queue_bytes);
    EXPECT_LE(run.sink.queued_bytes, entry.max_queue_bytes);
    EXPECT_LT(run.sink.queued_bytes * 2, file.size());
    // The wait may follow a hold of at most 951 ms.
    const std::uint32_t after_last_send_ms = run.now_ms - run.sink.sent.back().at_ms;
    EXPECT_GE(after_last_send_ms, pellox::kStalledServerMs);
    EXPECT_LE(after_last_send_ms, pellox::kStalledServerMs + 951);
  }
}

TEST(PacerQueue, AServerPausingThreeSecondsIsWaitedForAndAClosedOneEndsTheWait) {
  // The server reads nothing until the queue has been full for 3 s, then
  // everything as it comes.
  PacerRun run;
  std::uint32_t full_since_ms = 0;
  bool reading = false;
  run.on_wait = [&](const PaceStep &step) {
    if (reading) {
      run.sink.queued_bytes = 0;
    } else if (step.kind == PaceStep::Kind::WaitForRoom) {
      full_since_ms = full_since_ms == 0 ? run.now_ms : full_since_ms;
      reading = run.now_ms - full_since_ms >= 3000;
    }
  };
  const QByteArray file = fixtures::framesPerBlock(std::vector<int>(500, 1));
  ASSERT_EQ(run.run(file, 25.0), PaceOutcome::Completed);
  EXPECT_TRUE(reading);
  EXPECT_EQ(run.sink.allBytes(), file);

  // A connection that closes while the pacer waits for room ends the wait
  // without the block that waited.
  PacerRun closing;
  closing.on_wait = [&closing](const PaceStep &) {
    if (closing.now_ms >= 12000) {
      closing.sink.connected = false;
    }
  };
  ASSERT_EQ(closing.run(file, 25.0), PaceOutcome::ConnectionLost);
  EXPECT_EQ(closing.sink.sent.size(), 256u);
}

// Real time: frame n of a 25 fps video is due at n * 40 ms, two seconds
// early; a block leaves when the first frame that begins in it is due, or
// up to 200 ms before, with the frames due just before it.
TEST(RealTime, EachFrameLeavesAtItsTimeLessTheLeadAndALateWakeUpIsMadeUp) {
  const QByteArray file = fixtures::framesPerBlock(std::vector<int>(150, 1)); // 6 s
  for (const std::uint32_t late_wake_ms : {0u, 30u}) {
    SCOPED_TRACE(late_wake_ms);
    PacerRun run;
    run.late_wake_ms = late_wake_ms;
    readEverything(run);
    ASSERT_EQ(run.run(file, 25.0, PacingMode::RealTime), PaceOutcome::Completed);
    const std::vector<std::uint32_t> times = run.sink.sendTimes();
    ASSERT_EQ(times.size(), 150u);
    std::set<std::uint32_t> sends;
    for (int frame = 0; frame < 150; ++frame) {
      const int due_ms = frame * 40 - 2000;
      // A late wake-up sends what is due at once; the next frame keeps its own time.
      EXPECT_GE(static_cast<int>(times[frame]), std::max(0, due_ms - 200)) << frame;
      EXPECT_LE(static_cast<int>(times[frame]), std::max(0, due_ms + static_cast<int>(late_wake_ms))) << frame;
      sends.insert(times[frame]);
    }
    // Four seconds paced after the lead, in sends of a fifth of a second or so.
    EXPECT_LE(sends.size(), 4u * 5u + 2u);
    EXPECT_LE(run.most_late_ms, 0);
  }
}

TEST(RealTime, OneScheduleRunsOnAcrossAHundredVideosOfMixedRatesWithoutDrift) {
  // Alternating 25 fps (10 s) and 29.97 fps (301 frames, 10.0434 s) videos:
  // the first block of video k leaves exactly when the frames before it
  // have played, less the lead, though no video lasts a whole number of
  // milliseconds.
  const double ntsc = 90000.0 / 3003.0;
  const QByteArray pal_video = fixtures::framesPerBlock(std::vector<int>(50, 5));
  std::vector<int> ntsc_blocks(60, 5);
  ntsc_blocks.push_back(1);
  const QByteArray ntsc_video = fixtures::framesPerBlock(ntsc_blocks, 0x81);
  PacerRun run;
  readEverything(run);
  double stream_ms = 0.0;
  for (int video = 0; video < 100; ++video) {
    const bool pal = video % 2 == 0;
    const size_t first_block = run.sink.sent.size();
    ASSERT_EQ(run.run(pal ? pal_video : ntsc_video, pal ? 25.0 : ntsc, PacingMode::RealTime), PaceOutcome::Completed);
    if (video > 0) {
      const double first_block_ms = run.sink.sent[first_block].at_ms;
      EXPECT_LE(first_block_ms, stream_ms - 2000.0) << video;
      EXPECT_GE(first_block_ms, stream_ms - 2000.0 - 201.0) << video;
    }
    stream_ms += pal ? 10000.0 : 301 * 1000.0 / ntsc;
  }
  // Over 16.7 minutes, the stream ends where its frames say, to the batch.
  const double last_frame_due_ms = stream_ms - 2000.0 - 1000.0 / ntsc;
  EXPECT_LE(run.sink.sent.back().at_ms, last_frame_due_ms);
  EXPECT_GE(run.sink.sent.back().at_ms, last_frame_due_ms - 201.0);
  EXPECT_LE(run.most_late_ms, 0);
}

TEST(RealTime, AServerSlowerThanTheStreamIsCaughtUpWithinTheQueuesBound) {
  // 1 frame of 4 KiB per 40 ms: 100 KiB/s, so the queue's floor of 256 KiB
  // holds 2.56 s. The server reads nothing from 4 s to 12 s of the clock.
  QByteArray file;
  for (int frame = 0; frame < 500; ++frame) {
    file += fixtures::frameOfSize(4096, frame % 25 == 0);
  }
  PacerRun run;
  run.on_wait = [&run](const PaceStep &) {
    if (run.now_ms < 4000 || run.now_ms >= 12000) {
      run.sink.queued_bytes = 0;
    }
  };
  qint64 most_queued_bytes = 0;
  run.sink.after_send = [&] { most_queued_bytes = std::max(most_queued_bytes, run.sink.queued_bytes); };
  ASSERT_EQ(run.run(file, 25.0, PacingMode::RealTime), PaceOutcome::Completed);
  EXPECT_LE(most_queued_bytes, pellox::kMinQueueBytes);
  // Late by about the pause less the lead and what the queue held ...
  EXPECT_GT(run.most_late_ms, 500);
  EXPECT_LT(run.most_late_ms, 5000);
  // ... and on time again at the end: the last frame left at its own time.
  EXPECT_EQ(run.late_ms, 0);
  EXPECT_NEAR(static_cast<double>(run.sink.sent.back().at_ms), 499 * 40 - 2000, 240.0);
}

TEST(RealTime, AfterALongSlowStretchAtMostTenSecondsAreCaughtUpAndTheRestIsBehind) {
  // 100 kB/s for two minutes; from 5 s to 100 s the server takes a third of
  // that, so the stream falls about a minute behind.
  QByteArray file;
  for (int frame = 0; frame < 3000; ++frame) {
    file += fixtures::frameOfSize(4096, frame % 25 == 0);
  }
  PacerRun run;
  std::uint32_t drained_at_ms = 0;
  run.on_wait = [&](const PaceStep &) {
    if (run.now_ms < 5000 || run.now_ms >= 100000) {
      run.sink.queued_bytes = 0;
    } else {
      run.sink.queued_bytes = std::max<qint64>(0, run.sink.queued_bytes - (run.now_ms - drained_at_ms) * 33);
    }
    drained_at_ms = run.now_ms;
  };
  ASSERT_EQ(run.run(file, 25.0, PacingMode::RealTime), PaceOutcome::Completed);
  // Never more than ten seconds late against the schedule it keeps ...
  EXPECT_LE(run.most_late_ms, pellox::kMaxCatchUpMs + 200);
  EXPECT_GT(run.most_late_ms, 5000);
  // ... so the second after the slow stretch carries about ten seconds of
  // video (and the lead, and its own), not the minute it fell behind.
  qint64 burst_bytes = 0;
  for (const SentBlock &block : run.sink.sent) {
    burst_bytes += block.at_ms >= 100000 && block.at_ms < 101000 ? block.bytes.size() : 0;
  }
  EXPECT_GT(burst_bytes, 8 * 100 * 1024);
  EXPECT_LT(burst_bytes, 20 * 100 * 1024);
  // The rest is how much later than planned listeners get it.
  EXPECT_GE(run.behind_ms, 40000);
  EXPECT_EQ(run.late_ms, 0);
}
