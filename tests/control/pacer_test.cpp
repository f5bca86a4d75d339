// The send loop on its own: a recording sink and the fake clock, no sockets.

#include "fake_clock.h"
#include "nsv_fixtures.h"

#include <nsv_pacer.h>

#include <gtest/gtest.h>

#include <QBuffer>
#include <QRandomGenerator>

#include <functional>
#include <vector>

using pellox::NsvPacer;
using pellox::PaceOutcome;

namespace {

struct SentBlock {
  std::uint32_t at_ms = 0;
  QByteArray bytes;
};

class RecordingSink : public pellox::PacerSink {
public:
  explicit RecordingSink(FakePacingClock &clock) : clock_(clock) {}

  bool isConnected() const override { return connected; }
  bool sendBlock(const QByteArray &block) override {
    sent.push_back({clock_.now_ms, block});
    queued_bytes += block.size();
    if (after_send) {
      after_send(static_cast<int>(sent.size()));
    }
    return send_succeeds;
  }
  qint64 queuedBytes() const override { return queued_bytes; }
  bool takeStopRequest() override {
    const bool requested = stop_requested;
    stop_requested = false;
    return requested;
  }
  void setProgress(int percent) override { progress.push_back(percent); }

  QByteArray allBytes() const {
    QByteArray bytes;
    for (const SentBlock &block : sent) {
      bytes += block.bytes;
    }
    return bytes;
  }

  bool connected = true;
  bool send_succeeds = true;
  bool stop_requested = false;
  // What the connection still holds; tests drain it as a server would.
  qint64 queued_bytes = 0;
  std::vector<SentBlock> sent;
  std::vector<int> progress;
  std::function<void(int)> after_send;

private:
  FakePacingClock &clock_;
};

// One run of the pacer on bytes in memory, for grouped cases.
struct PacerRun {
  PaceOutcome run(const QByteArray &bytes, double frames_per_second) {
    QBuffer file;
    file.setData(bytes);
    file.open(QIODevice::ReadOnly);
    NsvPacer pacer(clock);
    return pacer.run(file, 0, frames_per_second, sink);
  }

  FakePacingClock clock;
  RecordingSink sink{clock};
};

class PacerTest : public ::testing::Test {
protected:
  PaceOutcome run(const QByteArray &file_bytes, double frames_per_second, qint64 start = 0) {
    file_.setData(file_bytes);
    file_.open(QIODevice::ReadOnly);
    NsvPacer pacer(clock_);
    return pacer.run(file_, start, frames_per_second, sink_);
  }

  // The moments at which the sink saw each block.
  std::vector<std::uint32_t> sendTimes() const {
    std::vector<std::uint32_t> times;
    for (const SentBlock &block : sink_.sent) {
      times.push_back(block.at_ms);
    }
    return times;
  }

  FakePacingClock clock_;
  RecordingSink sink_{clock_};
  QBuffer file_;
};

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

TEST_F(PacerTest, AStretchWithoutFramesStopsTheSend) {
  // A real stream with megabytes of other data behind it.
  QRandomGenerator random(11);
  QByteArray noise(6 * 1024 * 1024, Qt::Uninitialized);
  random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
  const QByteArray stream = fixtures::nsvFile(50, 25, 1000);
  sink_.after_send = [this](int) { sink_.queued_bytes = 0; }; // a server that reads everything
  EXPECT_EQ(run(stream + noise, 25), PaceOutcome::NoFrames);
  qint64 sent_bytes = 0;
  for (const SentBlock &block : sink_.sent) {
    sent_bytes += block.bytes.size();
  }
  EXPECT_LE(sent_bytes, stream.size() + pellox::kFramelessBytes + 2 * pellox::kBlockBytes);
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(pellox::roundHalfEven(0.5), 0.0);
  EXPECT_EQ(pellox::roundHalfEven(1.5), 2.0);
  EXPECT_EQ(pellox::roundHalfEven(2.5), 2.0);
  EXPECT_EQ(pellox::roundHalfEven(0.02997), 0.0);
  EXPECT_EQ(pellox::roundHalfEven(-0.5), 0.0);
  EXPECT_EQ(pellox::roundHalfEven(1.03), 1.0);
}

TEST_F(PacerTest, SendsWholeFileFromStartOffsetWithPartialLastBlock) {
  const QByteArray file = fixtures::filler(100) + fixtures::nsvFile(40, 25, 100);
  ASSERT_EQ(run(file, 25.0, 100), PaceOutcome::Completed);
  EXPECT_EQ(sink_.allBytes(), file.mid(100));
  ASSERT_FALSE(sink_.sent.empty());
  for (size_t index = 0; index + 1 < sink_.sent.size(); ++index) {
    EXPECT_EQ(sink_.sent[index].bytes.size(), 1024);
  }
  EXPECT_EQ(sink_.sent.back().bytes.size(), (file.size() - 100) % 1024);
}

TEST_F(PacerTest, FileShorterThanOneBlockIsSentAsItIs) {
  const QByteArray file = fixtures::nsvFile(2, 25, 50);
  ASSERT_LT(file.size(), 1024);
  ASSERT_EQ(run(file, 25.0), PaceOutcome::Completed);
  ASSERT_EQ(sink_.sent.size(), 1u);
  EXPECT_EQ(sink_.sent[0].bytes, file);
}

TEST_F(PacerTest, HoldsAfterOneSecondOfFramesUntilMoreThan950ms) {
  // r = 25, five frames per block: a hold after every fifth block.
  ASSERT_EQ(run(fixtures::framesPerBlock(std::vector<int>(12, 5)), 25.0), PaceOutcome::Completed);
  const std::vector<std::uint32_t> times = sendTimes();
  ASSERT_EQ(times.size(), 12u);
  for (int block = 0; block < 5; ++block) {
    EXPECT_EQ(times[block], 0u) << block;
  }
  // Sleeps of 10 ms until the elapsed time exceeds 950: 960.
  for (int block = 5; block < 10; ++block) {
    EXPECT_EQ(times[block], 960u) << block;
  }
  EXPECT_EQ(times[10], 1920u);
  EXPECT_EQ(times[11], 1920u);
  // Progress at each hold: (bytes read + 1) / length, rounded.
  ASSERT_EQ(sink_.progress.size(), 2u);
  EXPECT_EQ(sink_.progress[0], 42); // 5121 / 12288 = 41.67 %
  EXPECT_EQ(sink_.progress[1], 83); // 10241 / 12288 = 83.34 %
}

TEST_F(PacerTest, FrameCounterRoundsNonIntegerRates) {
  // r = 29.97003. 30 frames hold and leave 0, so 29 more do not hold yet.
  const double ntsc = 90000.0 / 3003.0;
  ASSERT_EQ(run(fixtures::framesPerBlock({30, 29, 1, 0}), ntsc), PaceOutcome::Completed);
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0, 960, 960, 1920}));
}

TEST_F(PacerTest, FrameCounterKeepsWholeRemainder) {
  // 31 frames at 29.97003 leave 1, so the next 29 reach 30 and hold.
  const double ntsc = 90000.0 / 3003.0;
  ASSERT_EQ(run(fixtures::framesPerBlock({31, 29, 0}), ntsc), PaceOutcome::Completed);
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0, 960, 1920}));
}

TEST_F(PacerTest, HalfFramesRoundToEven) {
  // r = 12.5: 13 leaves 0.5 -> 0; 12 more stay below 12.5.
  ASSERT_EQ(run(fixtures::framesPerBlock({13, 12, 0}), 12.5), PaceOutcome::Completed);
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0, 960, 960}));
}

TEST_F(PacerTest, OneAndAHalfFramesRoundUpToTwo) {
  // r = 12.5: 14 leaves 1.5 -> 2; 11 more make 13 and hold.
  ASSERT_EQ(run(fixtures::framesPerBlock({14, 11, 0}), 12.5), PaceOutcome::Completed);
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0, 960, 1920}));
}

TEST_F(PacerTest, FramesAtBlockStartsAndAcrossBlocksCount) {
  // At one frame per second every counted frame holds: the sync frame at 0,
  // a frame whose sync word straddles blocks 0 and 1 (counted in block 1)
  // and one that starts block 2.
  const QByteArray file = fixtures::frameOfSize(1023, true, 1) + fixtures::frameOfSize(1025, false) +
                          fixtures::frameOfSize(1024, false);
  ASSERT_EQ(run(file, 1.0), PaceOutcome::Completed);
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0, 960, 1920}));
  EXPECT_EQ(clock_.now_ms, 2880u);
}

TEST_F(PacerTest, YieldsTwicePerBlockAndOncePerFrame) {
  ASSERT_EQ(run(fixtures::framesPerBlock({5}), 100.0), PaceOutcome::Completed);
  EXPECT_EQ(clock_.yield_count, 7);
}

TEST_F(PacerTest, RateZeroHoldsAfterEveryBlock) {
  ASSERT_EQ(run(fixtures::filler(3 * 1024), 0.0), PaceOutcome::Completed);
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0, 960, 1920}));
}

TEST_F(PacerTest, HoldMeasuresAcrossTickCounterWrap) {
  clock_.now_ms = 0xFFFFFF00u; // wraps 256 ms into the hold
  ASSERT_EQ(run(fixtures::framesPerBlock({25, 0}), 25.0), PaceOutcome::Completed);
  const std::vector<std::uint32_t> times = sendTimes();
  ASSERT_EQ(times.size(), 2u);
  EXPECT_EQ(static_cast<std::uint32_t>(times[1] - times[0]), 960u);
}

TEST_F(PacerTest, StopDuringHoldSendsOneMoreBlock) {
  clock_.on_sleep = [this] {
    if (clock_.now_ms == 500) {
      sink_.stop_requested = true;
    }
  };
  ASSERT_EQ(run(fixtures::framesPerBlock(std::vector<int>(6, 25)), 25.0), PaceOutcome::Stopped);
  // The hold finished (960), the next block went out, then the loop ended.
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0, 960}));
}

TEST_F(PacerTest, DisconnectDuringHoldEndsBeforeTheNextSend) {
  clock_.on_sleep = [this] {
    if (clock_.now_ms == 500) {
      sink_.connected = false;
    }
  };
  ASSERT_EQ(run(fixtures::framesPerBlock(std::vector<int>(4, 25)), 25.0), PaceOutcome::ConnectionLost);
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0}));
  // Block 1 counted (25 frames + 2 yields), the hold (96 rounds of 10 ms),
  // block 2 read and counted (27 yields) but not sent.
  EXPECT_EQ(clock_.yield_count, 27 + 96 + 27);
}

TEST_F(PacerTest, SendErrorEndsTheLoop) {
  sink_.send_succeeds = false;
  ASSERT_EQ(run(fixtures::filler(3 * 1024), 25.0), PaceOutcome::SendFailed);
  EXPECT_EQ(sink_.sent.size(), 1u);
}

TEST_F(PacerTest, HoldObserverSeesIntervalsBetweenMarks) {
  std::vector<std::uint32_t> intervals;
  file_.setData(fixtures::framesPerBlock(std::vector<int>(3, 25)));
  file_.open(QIODevice::ReadOnly);
  NsvPacer pacer(clock_);
  pacer.setHoldObserver([&intervals](std::uint32_t interval_ms) { intervals.push_back(interval_ms); });
  ASSERT_EQ(pacer.run(file_, 0, 25.0, sink_), PaceOutcome::Completed);
  EXPECT_EQ(intervals, (std::vector<std::uint32_t>{960, 960, 960}));
}

TEST(PacerQueue, FullQueueWaitsAndGivesUpAfter15sWithoutProgress) {
  // Nothing drains: the loop stops sending once the queue is full, then waits.
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
    PacerRun pacer_run;
    ASSERT_EQ(pacer_run.run(file, 25.0), PaceOutcome::ServerStoppedReading);
    const RecordingSink &sink = pacer_run.sink;
    EXPECT_GE(sink.queued_bytes, entry.min_queue_bytes);
    EXPECT_LE(sink.queued_bytes, entry.max_queue_bytes);
    EXPECT_LT(sink.queued_bytes * 2, file.size());
    // The wait may follow a hold of at most 960 ms.
    const std::uint32_t after_last_send_ms = pacer_run.clock.now_ms - sink.sent.back().at_ms;
    EXPECT_GE(after_last_send_ms, pellox::kStalledServerMs);
    EXPECT_LE(after_last_send_ms, pellox::kStalledServerMs + 960);
  }
}

TEST(PacerQueue, ServerPausingThreeSecondsIsWaitedFor) {
  // The server reads nothing until the queue has been full for 3 s, then
  // everything as it comes.
  PacerRun pacer_run;
  std::uint32_t full_since_ms = 0;
  bool reading = false;
  pacer_run.clock.on_sleep = [&] {
    RecordingSink &sink = pacer_run.sink;
    if (reading) {
      sink.queued_bytes = 0;
    } else if (sink.queued_bytes + 1024 > pellox::kMinQueueBytes) {
      full_since_ms = full_since_ms == 0 ? pacer_run.clock.now_ms : full_since_ms;
      reading = pacer_run.clock.now_ms - full_since_ms >= 3000;
    }
  };
  const QByteArray file = fixtures::framesPerBlock(std::vector<int>(500, 1));
  ASSERT_EQ(pacer_run.run(file, 25.0), PaceOutcome::Completed);
  EXPECT_TRUE(reading);
  EXPECT_EQ(pacer_run.sink.allBytes(), file);
}

TEST(PacerQueue, WaitForRoomEndsOnStopOrClosedConnection) {
  for (const bool stop : {true, false}) {
    SCOPED_TRACE(stop);
    PacerRun pacer_run;
    RecordingSink &sink = pacer_run.sink;
    pacer_run.clock.on_sleep = [&] {
      if (pacer_run.clock.now_ms == 12000) {
        (stop ? sink.stop_requested : sink.connected) = stop;
      }
    };
    // 256 KiB go out in the first 10.24 s of video, by 9600 ms; the wait then
    // lasts until 12 s.
    const QByteArray file = fixtures::framesPerBlock(std::vector<int>(500, 1));
    ASSERT_EQ(pacer_run.run(file, 25.0), stop ? PaceOutcome::Stopped : PaceOutcome::ConnectionLost);
    EXPECT_EQ(pacer_run.clock.now_ms, 12000u);
    // A stop sends the block that waited; a closed connection does not.
    EXPECT_EQ(sink.sent.size(), stop ? 257u : 256u);
  }
}
