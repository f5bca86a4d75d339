// The send loop on its own: a recording sink and the fake clock, no sockets.

#include "fake_clock.h"
#include "nsv_fixtures.h"

#include <nsv_pacer.h>

#include <gtest/gtest.h>

#include <QBuffer>

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
    if (after_send) {
      after_send(static_cast<int>(sent.size()));
    }
    return send_succeeds;
  }
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
  std::vector<SentBlock> sent;
  std::vector<int> progress;
  std::function<void(int)> after_send;

private:
  FakePacingClock &clock_;
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

QByteArray blocks(std::initializer_list<QByteArray> parts) {
  QByteArray bytes;
  for (const QByteArray &part : parts) {
    bytes += part;
  }
  return bytes;
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

  // A header cut off before its rate byte reads as rate 0.
  QBuffer truncated;
  truncated.setData(fixtures::filler(10) + QByteArray("NSVsVP80"));
  truncated.open(QIODevice::ReadOnly);
  const pellox::SyncSearchResult cut = pellox::findFirstSync(truncated);
  EXPECT_TRUE(cut.found);
  EXPECT_EQ(cut.start_offset, 10);
  EXPECT_EQ(cut.rate_byte, 0);
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
  // r = 25, five markers per block: a hold after every fifth block.
  QByteArray file;
  for (int block = 0; block < 12; ++block) {
    file += fixtures::markerBlock(5);
  }
  ASSERT_EQ(run(file, 25.0), PaceOutcome::Completed);
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
  ASSERT_EQ(run(blocks({fixtures::markerBlock(30), fixtures::markerBlock(29), fixtures::markerBlock(1),
                        fixtures::markerBlock(0)}),
                ntsc),
            PaceOutcome::Completed);
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0, 960, 960, 1920}));
}

TEST_F(PacerTest, FrameCounterKeepsWholeRemainder) {
  // 31 frames at 29.97003 leave 1, so the next 29 reach 30 and hold.
  const double ntsc = 90000.0 / 3003.0;
  ASSERT_EQ(run(blocks({fixtures::markerBlock(31), fixtures::markerBlock(29), fixtures::markerBlock(0)}), ntsc),
            PaceOutcome::Completed);
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0, 960, 1920}));
}

TEST_F(PacerTest, HalfFramesRoundToEven) {
  // r = 12.5: 13 leaves 0.5 -> 0; 12 more stay below 12.5.
  ASSERT_EQ(run(blocks({fixtures::markerBlock(13), fixtures::markerBlock(12), fixtures::markerBlock(0)}), 12.5),
            PaceOutcome::Completed);
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0, 960, 960}));
}

TEST_F(PacerTest, OneAndAHalfFramesRoundUpToTwo) {
  // r = 12.5: 14 leaves 1.5 -> 2; 11 more make 13 and hold.
  ASSERT_EQ(run(blocks({fixtures::markerBlock(14), fixtures::markerBlock(11), fixtures::markerBlock(0)}), 12.5),
            PaceOutcome::Completed);
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0, 960, 1920}));
}

TEST_F(PacerTest, MarkerAtBlockStartOrAcrossBlocksIsNotCounted) {
  // Block 1 starts with "NSVs" and ends with 0xEF, block 2 starts with 0xBE.
  // Neither marker counts, so even at one frame per second nothing holds.
  QByteArray first = fixtures::markerBlock(0, true, 1);
  first[1023] = '\xEF';
  QByteArray second = fixtures::filler(1024);
  second[0] = '\xBE';
  ASSERT_EQ(run(first + second + fixtures::filler(1024), 1.0), PaceOutcome::Completed);
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0, 0, 0}));
}

TEST_F(PacerTest, YieldsAfterEverySearchStep) {
  // Three "NSVs" hits and two frame markers: 4 + 3 search steps.
  QByteArray block = fixtures::markerBlock(2);
  block.replace(100, 4, "NSVs");
  block.replace(200, 4, "NSVs");
  block.replace(300, 4, "NSVs");
  ASSERT_EQ(run(block, 100.0), PaceOutcome::Completed);
  EXPECT_EQ(clock_.yield_count, 7);
}

TEST_F(PacerTest, RateZeroHoldsAfterEveryBlock) {
  ASSERT_EQ(run(fixtures::filler(3 * 1024), 0.0), PaceOutcome::Completed);
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0, 960, 1920}));
}

TEST_F(PacerTest, HoldMeasuresAcrossTickCounterWrap) {
  clock_.now_ms = 0xFFFFFF00u; // wraps 256 ms into the hold
  ASSERT_EQ(run(blocks({fixtures::markerBlock(25), fixtures::markerBlock(0)}), 25.0), PaceOutcome::Completed);
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
  QByteArray file;
  for (int block = 0; block < 6; ++block) {
    file += fixtures::markerBlock(25);
  }
  ASSERT_EQ(run(file, 25.0), PaceOutcome::Stopped);
  // The hold finished (960), the next block went out, then the loop ended.
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0, 960}));
}

TEST_F(PacerTest, DisconnectDuringHoldEndsBeforeTheNextSend) {
  clock_.on_sleep = [this] {
    if (clock_.now_ms == 500) {
      sink_.connected = false;
    }
  };
  QByteArray file;
  for (int block = 0; block < 4; ++block) {
    file += fixtures::markerBlock(25);
  }
  ASSERT_EQ(run(file, 25.0), PaceOutcome::ConnectionLost);
  EXPECT_EQ(sendTimes(), (std::vector<std::uint32_t>{0}));
  // Block 1 counted (1 + 26 steps), the hold (96 rounds of 10 ms), block 2
  // read and counted (27 steps) but not sent.
  EXPECT_EQ(clock_.yield_count, 27 + 96 + 27);
}

TEST_F(PacerTest, SendErrorEndsTheLoop) {
  sink_.send_succeeds = false;
  ASSERT_EQ(run(fixtures::filler(3 * 1024), 25.0), PaceOutcome::SendFailed);
  EXPECT_EQ(sink_.sent.size(), 1u);
}

TEST_F(PacerTest, HoldObserverSeesIntervalsBetweenMarks) {
  std::vector<std::uint32_t> intervals;
  QByteArray file;
  for (int block = 0; block < 3; ++block) {
    file += fixtures::markerBlock(25);
  }
  file_.setData(file);
  file_.open(QIODevice::ReadOnly);
  NsvPacer pacer(clock_);
  pacer.setHoldObserver([&intervals](std::uint32_t interval_ms) { intervals.push_back(interval_ms); });
  ASSERT_EQ(pacer.run(file_, 0, 25.0, sink_), PaceOutcome::Completed);
  EXPECT_EQ(intervals, (std::vector<std::uint32_t>{960, 960, 960}));
}
