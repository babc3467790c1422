// What the emulator cannot make a worker meet: answers out of step or late in an upload, stops at
// exact moments, block requests that wrap past 2^32 or ask for 65,535 bytes, a source file that
// changes mid-transfer. The workers run on the test's thread against a scripted link.
#include <gtest/gtest.h>

#include <filesystem>

#include "image/crc16.h"
#include "support/fake_link.h"
#include "support/scratch_dir.h"
#include "transfer/staged_file.h"
#include "transfer/status_texts.h"
#include "transfer/workers.h"

namespace kestal {
namespace {

using testing::Bytes;
using testing::FakeLink;
using testing::Frame;

struct Recorder : TransferNotify {
  Recorder(const Bytes& linkSent, TransferState& transfer) : sent(linkSent), state(transfer) {}
  const Bytes& sent;  // the link's
  TransferState& state;
  std::vector<std::string> statuses;
  std::vector<size_t> sentAtStatus;  // bytes out when each status came
  std::vector<TransferProgress> progress;
  std::vector<std::vector<Frame>> sentAtProgress;  // the frames out when each progress came
  std::function<void()> onProgress;
  void NotifyStatus(int, const std::string& text, const std::string&) override {
    statuses.push_back(text);
    sentAtStatus.push_back(sent.size());
  }
  void NotifyProgress(const TransferProgress& p) override {
    progress.push_back(p);
    sentAtProgress.push_back(testing::ParseFrames(sent));
    if (onProgress) onProgress();
  }
  void NotifyDone(bool) override { state.running.store(false); }  // as the controller does
};

// A receiver that answers each frame the worker sends, once that frame is whole on the line.
class Receiver {
 public:
  using Answer = std::function<void(const Frame&)>;
  Receiver(FakeLink& link, Answer answer) : link_(link), answer_(std::move(answer)) {
    link.onSend = [this](const Bytes&) { OnSend(); };
  }
  std::vector<Frame> Sent() const { return testing::ParseFrames(link_.sent); }

 private:
  void OnSend() {
    if (!requested_) {  // the wake-up burst
      requested_ = true;
      link_.Deliver(testing::WireFrame(7, CMD_REQUEST, {0, 0, 0, 0}));
      return;
    }
    const std::vector<Frame> frames = Sent();
    for (; answered_ < frames.size(); ++answered_) answer_(frames[answered_]);
  }

  FakeLink& link_;
  Answer answer_;
  bool requested_ = false;
  size_t answered_ = 0;
};

Bytes Be32(uint32_t value) {
  Bytes bytes(4);
  PutBE32(bytes.data(), value);
  return bytes;
}

Bytes BlockRequest(uint16_t length, uint32_t offset) {
  Bytes payload(6);
  PutBE16(payload.data(), length);
  PutBE32(payload.data() + 2, offset);
  return payload;
}

class WorkerTest : public ::testing::Test {
 protected:
  WorkerOutcome Run(const std::string& path, int mode, int direction) {
    context_.request = {path, mode, direction};
    state_.running.store(true);
    link_.HangUpAt(link_.clock.NowMs() + 600000);  // a worker that would wait for ever ends here
    return direction == DIR_TO_RECEIVER ? DownloadWorker(context_) : UploadWorker(context_);
  }
  // A source file of `size` bytes, measured as the controller does at the start.
  std::string Source(const std::string& name, size_t size, uint32_t seed) {
    const std::string path = dir_.File(name);
    testing::WriteBytes(path, testing::TestBytes(size, seed));
    state_.fileSize.store(static_cast<int64_t>(size));
    return path;
  }
  void Reply(const Frame& to, uint8_t command, const Bytes& payload, int sequenceShift = 0) {
    link_.Deliver(
        testing::WireFrame(static_cast<uint8_t>(to.sequence + sequenceShift), command, payload));
  }

  testing::ScratchDir dir_;
  FakeLink link_;
  TransferState state_;
  Recorder notify_{link_.sent, state_};
  WorkerContext context_{{}, state_, link_, notify_, {}};
};

TEST_F(WorkerTest, UploadWritesOnlyTheAnswersToItsOwnRequests) {
  const Bytes data = testing::TestBytes(600, 1);
  std::map<uint32_t, int> tries;  // per offset (or the size query)
  Receiver receiver(link_, [&](const Frame& frame) {
    if (frame.command != CMD_SIZE_QUERY && frame.command != CMD_BLOCK_REQUEST) return;
    const bool query = frame.command == CMD_SIZE_QUERY;
    const int attempt = tries[query ? ~0u : GetBE32(&frame.payload[2])]++;
    if (query) {
      if (attempt == 0) Reply(frame, CMD_SIZE_REPLY, Be32(600), -1);  // an older query's answer
      if (attempt == 1) Reply(frame, CMD_SIZE_REPLY, {0, 0});         // too short for a size
      if (attempt == 2) Reply(frame, CMD_SIZE_REPLY, Be32(600));
    } else {
      const uint16_t length = GetBE16(frame.payload.data());
      const auto at = data.begin() + GetBE32(&frame.payload[2]);
      const Bytes block(at, at + length);
      if (attempt == 0) Reply(frame, CMD_BLOCK_DATA, block, -1);                   // stale
      if (attempt == 1) Reply(frame, CMD_BLOCK_DATA, Bytes(at, at + length - 1));  // short
      if (attempt == 2) Reply(frame, CMD_SIZE_REPLY, block);                       // wrong kind
      if (attempt == 3) Reply(frame, CMD_BLOCK_DATA, block);
    }
  });
  const std::string target = dir_.File("list.fdu");
  EXPECT_EQ(Run(target, MODE_CHANNELS, DIR_TO_COMPUTER), WorkerOutcome::Completed);
  EXPECT_EQ(testing::ReadBytes(target), data);
  const std::vector<Frame> sent = receiver.Sent();
  EXPECT_EQ(sent.back().command, CMD_FINISH);
  EXPECT_EQ(sent.size(), 1u + 3u + 3u * 4u + 1u);  // accept, queries, block tries, finish
  EXPECT_EQ(notify_.statuses, (std::vector<std::string>{text::kUploading, text::kComplete}));
  EXPECT_EQ(notify_.progress.back().bytesDone, 600u);
  EXPECT_EQ(notify_.progress.back().bytesTotal, 600u);
  // A block's progress never holds up the request for the next: it comes after it.
  for (size_t i = 0; i < notify_.progress.size(); ++i) {
    const uint64_t done = notify_.progress[i].bytesDone;
    if (done == 600) continue;
    const Frame& last = notify_.sentAtProgress[i].back();
    EXPECT_EQ(last.command, CMD_BLOCK_REQUEST);
    EXPECT_EQ(GetBE32(&last.payload[2]), done);
  }
}

// A lossy line: an answer lost, one damaged, two slower than the reply window. Each block and
// the size query still arrive whole, well inside the watchdog, which asking again never feeds.
TEST_F(WorkerTest, UploadAsksAgainUntilAnAnswerGetsThrough) {
  const Bytes data = testing::TestBytes(400, 6);
  std::map<uint32_t, int> tries;  // per offset (or the size query)
  std::vector<uint64_t> starts;   // of each question, then the finish
  Receiver receiver(link_, [&](const Frame& frame) {
    if (frame.command == CMD_FINISH) starts.push_back(link_.clock.NowMs());
    if (frame.command != CMD_SIZE_QUERY && frame.command != CMD_BLOCK_REQUEST) return;
    const bool query = frame.command == CMD_SIZE_QUERY;
    const uint32_t key = query ? ~0u : GetBE32(&frame.payload[2]);
    const int attempt = tries[key]++;
    if (attempt == 0) starts.push_back(link_.clock.NowMs());
    // The test plays the watchdog: a tick at the first request; a re-ask must not undo it.
    if (attempt == 0) state_.watchdog.store(1);
    EXPECT_EQ(state_.watchdog.load(), 1) << "request " << attempt << " fed the watchdog";
    Bytes answer = query ? Be32(400) : Bytes();
    if (!query) {
      const auto at = data.begin() + key;
      answer.assign(at, at + GetBE16(frame.payload.data()));
    }
    const uint8_t command = query ? CMD_SIZE_REPLY : CMD_BLOCK_DATA;
    if (attempt == 1) link_.Deliver(testing::WireFrame(frame.sequence, command, answer, 1));
    if (attempt >= 2)  // slow: each answer comes 700 ms after its request
      link_.DeliverAt(link_.clock.NowMs() + 700,
                      testing::WireFrame(frame.sequence, command, answer));
  });
  const std::string target = dir_.File("list.fdu");
  EXPECT_EQ(Run(target, MODE_CHANNELS, DIR_TO_COMPUTER), WorkerOutcome::Completed);
  EXPECT_EQ(testing::ReadBytes(target), data);
  // Lost: asked again after the window; damaged: at once; slow: asked again at the window's
  // end, and the first answer (to the request before) taken. Its late twin is passed over.
  EXPECT_EQ(tries, (std::map<uint32_t, int>{{~0u, 4}, {0, 4}, {255, 4}}));
  ASSERT_EQ(starts.size(), 4u);
  for (size_t i = 1; i < starts.size(); ++i) EXPECT_LT(starts[i] - starts[i - 1], 4800u) << i;
}

TEST_F(WorkerTest, UploadThatDoesNotCompleteKeepsTheOldTarget) {
  const std::string target = dir_.File("list.fdu");
  testing::WriteBytes(target, {1, 2, 3});
  int blockRequests = 0;
  Receiver receiver(link_, [&](const Frame& frame) {
    if (frame.command == CMD_SIZE_QUERY) Reply(frame, CMD_SIZE_REPLY, Be32(300));
    if (frame.command == CMD_BLOCK_REQUEST) {
      ++blockRequests;
      link_.Deliver(testing::WireFrame(frame.sequence, CMD_BLOCK_DATA, Bytes(255), 1));
    }
  });
  // Every answer damaged: twenty requests, not one more.
  EXPECT_EQ(Run(target, MODE_CHANNELS, DIR_TO_COMPUTER), WorkerOutcome::Failed);
  EXPECT_EQ(blockRequests, 20);
  EXPECT_EQ(notify_.statuses,
            (std::vector<std::string>{text::kUploading, text::kCommunicationError}));
  EXPECT_EQ(testing::ReadBytes(target), (Bytes{1, 2, 3}));
  EXPECT_EQ(dir_.Entries(), std::vector<std::string>{"list.fdu"});  // no staged file left
}

TEST_F(WorkerTest, UploadStoppedBetweenBlocksKeepsTheOldTarget) {
  const std::string target = dir_.File("list.fdu");
  testing::WriteBytes(target, {1, 2, 3});
  Receiver receiver(link_, [&](const Frame& frame) {
    if (frame.command == CMD_SIZE_QUERY) Reply(frame, CMD_SIZE_REPLY, Be32(300));
    if (frame.command == CMD_BLOCK_REQUEST) Reply(frame, CMD_BLOCK_DATA, Bytes(255));
  });
  // The stop comes right as the first block has been taken, before the next is asked for.
  link_.frameTrace = [&](bool sent, const uint8_t* body, size_t, bool) {
    if (!sent && body[1] == CMD_BLOCK_DATA) state_.running.store(false);
  };
  EXPECT_EQ(Run(target, MODE_CHANNELS, DIR_TO_COMPUTER), WorkerOutcome::Stopped);
  EXPECT_EQ(testing::ReadBytes(target), (Bytes{1, 2, 3}));
  EXPECT_EQ(dir_.Entries(), std::vector<std::string>{"list.fdu"});
  EXPECT_EQ(receiver.Sent().back().command, CMD_BLOCK_REQUEST);
}

TEST_F(WorkerTest, DownloadServesFullLengthBlocksAndRefusesOffsetsThatWrap) {
  const std::string path = dir_.File("big.ird");
  const Bytes data = testing::TestBytes(70000, 2);
  testing::WriteBytes(path, data);
  state_.fileSize.store(70000);
  Receiver receiver(link_, [&](const Frame& frame) {
    if (frame.command == CMD_ACCEPT_DOWNLOAD)
      Reply(frame, CMD_BLOCK_REQUEST, BlockRequest(65535, 0), 1);
    // 0xFFFFFF00 + 0x200 is 0x100 in 32 bits: inside the file, were the sum allowed to wrap.
    if (frame.command == CMD_BLOCK_DATA)
      Reply(frame, CMD_BLOCK_REQUEST, BlockRequest(0x200, 0xFFFFFF00), 1);
  });
  EXPECT_EQ(Run(path, MODE_SOFTWARE, DIR_TO_RECEIVER), WorkerOutcome::Failed);
  const std::vector<Frame> sent = receiver.Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].command, CMD_BLOCK_DATA);
  EXPECT_TRUE(sent[1].intact);
  EXPECT_EQ(sent[1].payload, Bytes(data.begin(), data.begin() + 65535));
  EXPECT_EQ(notify_.statuses.back(), text::kOutOfRange);
  EXPECT_EQ(notify_.progress.front().bytesDone, 65535u);
  EXPECT_EQ(notify_.progress.front().bytesTotal, 70000u);
}

TEST_F(WorkerTest, DownloadStopsWhenTheSourceShrinksMidTransfer) {
  const std::string path = Source("image.ird", 1000, 3);
  Receiver receiver(link_, [&](const Frame& frame) {
    if (frame.command != CMD_ACCEPT_DOWNLOAD) return;
    std::filesystem::resize_file(path, 100);
    Reply(frame, CMD_BLOCK_REQUEST, BlockRequest(500, 0), 1);
  });
  EXPECT_EQ(Run(path, MODE_SOFTWARE, DIR_TO_RECEIVER), WorkerOutcome::Failed);
  EXPECT_EQ(notify_.statuses.back(), text::kReadingFail);
  EXPECT_EQ(receiver.Sent().size(), 1u);  // the accept, and no block of stale bytes
}

TEST_F(WorkerTest, DownloadStoppedBeforeTheFinishIsNoSuccess) {
  const std::string path = Source("image.ird", 1000, 3);
  Receiver receiver(link_, [&](const Frame& frame) {
    if (frame.command == CMD_ACCEPT_DOWNLOAD)
      Reply(frame, CMD_BLOCK_REQUEST, BlockRequest(1000, 0), 1);
    if (frame.command == CMD_BLOCK_DATA) state_.running.store(false);  // all sent, then a stop
  });
  EXPECT_EQ(Run(path, MODE_SOFTWARE, DIR_TO_RECEIVER), WorkerOutcome::Stopped);
  EXPECT_EQ(notify_.statuses, (std::vector<std::string>{text::kDownloading, text::kDownloading}));
}

// Packed before anyone is woken, with the watchdog disarmed; a stop is heard between chunks.
TEST_F(WorkerTest, ChannelsArePackedBeforeTheWakeUpAndAStopEndsThePacking) {
  const std::string path = Source("list.fdu", 4 * 32762, 7);
  notify_.onProgress = [&] {
    EXPECT_TRUE(link_.sent.empty());
    EXPECT_EQ(state_.watchdog.load(), -1);
    state_.running.store(false);
  };
  EXPECT_EQ(Run(path, MODE_CHANNELS, DIR_TO_RECEIVER), WorkerOutcome::Stopped);
  EXPECT_TRUE(link_.sent.empty()) << "nobody was woken";
  ASSERT_FALSE(notify_.progress.empty());
  EXPECT_EQ(notify_.progress[0].percent, 25);  // one chunk of four
  EXPECT_TRUE(notify_.statuses.empty()) << "the controller shows the packing";
}

// A list that grows, or shrinks, once its first chunk is read is not half-sent: nobody is woken.
TEST_F(WorkerTest, ChannelsFromAListChangedWhilePackedAreRefused) {
  for (const bool grow : {true, false}) {
    const std::string path = Source("list.fdu", 3 * 32762, 9);
    context_.packTrace = [&, chunks = 0](const std::string&) mutable {
      if (++chunks != 2) return;
      if (grow) testing::WriteBytes(path, testing::TestBytes(3 * 32762 + 1, 9));
      if (!grow) std::filesystem::resize_file(path, 2 * 32762);
    };
    EXPECT_EQ(Run(path, MODE_CHANNELS, DIR_TO_RECEIVER), WorkerOutcome::Failed) << grow;
    EXPECT_EQ(notify_.statuses.back(), text::kPackagingError);
    EXPECT_TRUE(link_.sent.empty());
  }
}

// Each request's value goes into the header (and its CRC); nothing else of the image changes.
TEST_F(WorkerTest, ChannelsHeaderCarriesEachRequestsValue) {
  const std::string path = Source("list.fdu", 100, 8);
  std::vector<Bytes> served;
  Receiver receiver(link_, [&](const Frame& frame) {
    if (frame.command == CMD_ACCEPT_DOWNLOAD)
      Reply(frame, CMD_BLOCK_REQUEST, BlockRequest(236, 0), 1);  // 128 + 8 + 100
    if (frame.command != CMD_BLOCK_DATA) return;
    served.push_back(frame.payload);
    if (served.size() == 1) Reply(frame, CMD_REQUEST, Be32(0xA1B2C3D4), 2);
    if (served.size() == 2) Reply(frame, CMD_FINISH, {}, 3);
  });
  EXPECT_EQ(Run(path, MODE_CHANNELS, DIR_TO_RECEIVER), WorkerOutcome::Completed);
  // The reset is asked for once the wake-up burst (10 bytes) is out, not while packing.
  ASSERT_EQ(notify_.statuses.front(), text::kWaiting);
  EXPECT_EQ(notify_.sentAtStatus.front(), 10u);
  ASSERT_EQ(served.size(), 2u);
  // The header as the format spells it: 126, CRC, kind 16, request value, one block, zeros.
  Bytes header = {0x00, 0x7E, 0, 0, 0x00, 0x10, 0xA1, 0xB2, 0xC3, 0xD4, 0, 0, 0, 1};
  header.resize(128);
  PutBE16(&header[2], Crc16(&header[4], 124));
  EXPECT_EQ(Bytes(served[1].begin(), served[1].begin() + 128), header);
  EXPECT_EQ(GetBE32(&served[0][6]), 0u);  // the first request's value
  EXPECT_TRUE(std::equal(served[0].begin() + 10, served[0].end(), served[1].begin() + 10));
}

TEST_F(WorkerTest, DownloadFailsWhenTheSourceIsRewrittenMidTransfer) {
  const std::string path = Source("image.ird", 1000, 3);
  Receiver receiver(link_, [&](const Frame& frame) {
    if (frame.command == CMD_ACCEPT_DOWNLOAD)
      Reply(frame, CMD_BLOCK_REQUEST, BlockRequest(500, 0), 1);
    if (frame.command != CMD_BLOCK_DATA) return;
    // Same size, other bytes: only the modification time tells.
    const auto written = std::filesystem::last_write_time(path);
    testing::WriteBytes(path, testing::TestBytes(1000, 4));
    std::filesystem::last_write_time(path, written + std::chrono::seconds(1));
    Reply(frame, CMD_FINISH, {}, 1);
  });
  EXPECT_EQ(Run(path, MODE_SOFTWARE, DIR_TO_RECEIVER), WorkerOutcome::Failed);
  EXPECT_EQ(notify_.statuses.back(), text::kReadingFail);
}

TEST_F(WorkerTest, UploadKeepsTheTargetsModeAndRefusesADanglingLink) {
  const Bytes data = testing::TestBytes(300, 5);
  Receiver receiver(link_, [&](const Frame& frame) {
    if (frame.command == CMD_SIZE_QUERY) Reply(frame, CMD_SIZE_REPLY, Be32(300));
    if (frame.command != CMD_BLOCK_REQUEST) return;
    const auto at = data.begin() + GetBE32(&frame.payload[2]);
    Reply(frame, CMD_BLOCK_DATA, Bytes(at, at + GetBE16(frame.payload.data())));
  });
  // A name near the longest a folder entry takes (252 bytes): the staged file beside it fits.
  const std::string target = dir_.File(std::string(246, 'n') + "\u00e4.fdu");
  testing::WriteBytes(target, {1});
  std::filesystem::permissions(target, std::filesystem::perms(0640));
  std::filesystem::create_symlink(target, dir_.File("link.fdu"));
  EXPECT_EQ(Run(dir_.File("link.fdu"), MODE_CHANNELS, DIR_TO_COMPUTER), WorkerOutcome::Completed);
  EXPECT_EQ(testing::ReadBytes(target), data);
  EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0640));

  std::filesystem::create_symlink(dir_.File("nowhere"), dir_.File("dangling.fdu"));
  StagedFile staged;
  EXPECT_FALSE(staged.Open(dir_.File("dangling.fdu")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.File("dangling.fdu")));
}

}  // namespace
}  // namespace kestal
