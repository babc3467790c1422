// The download worker against a scripted receiver: what it serves, when it refuses, and how it
// ends.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "image/file_maker.h"
#include "image/image_reader.h"
#include "transfer/worker_harness.h"
#include "transfer/workers.h"

namespace kestal::testing {
namespace {

using ::testing::ElementsAre;

// Plays the receiver of a download: after the accept it asks for `total` bytes in blocks of
// `blockSize` by offset, then says CMD_FINISH. It records what it was served.
class DownloadReceiver {
 public:
  DownloadReceiver(ScriptedLink& link, uint64_t total, uint16_t blockSize)
      : m_link(link), m_total(total), m_blockSize(blockSize) {
    link.onFrame = [this](const SentFrame& frame) { OnFrame(frame); };
  }

  void SendRequest(uint8_t sequence, uint32_t requestValue) {
    m_link.Deliver(WireFrame(sequence, CMD_REQUEST, Be32(requestValue)));
  }

  std::vector<uint8_t> served;
  std::vector<uint32_t> offsets;  // of the blocks asked for
  // Called before each block request goes out; returning false stops the script there.
  std::function<bool(uint32_t offset)> beforeBlock;

 private:
  void OnFrame(const SentFrame& frame) {
    if (frame.command == CMD_BLOCK_DATA) {
      EXPECT_EQ(frame.sequence, m_lastSequence);
      EXPECT_TRUE(frame.sumOk);
      served.insert(served.end(), frame.payload.begin(), frame.payload.end());
    }
    if (frame.command == CMD_ACCEPT_DOWNLOAD || frame.command == CMD_BLOCK_DATA) AskNext();
  }

  void AskNext() {
    if (served.size() >= m_total) {
      m_link.Deliver(WireFrame(++m_lastSequence, CMD_FINISH, {}));
      return;
    }
    const auto offset = static_cast<uint32_t>(served.size());
    if (beforeBlock && !beforeBlock(offset)) return;
    const auto length = static_cast<uint16_t>(std::min<uint64_t>(m_blockSize, m_total - offset));
    offsets.push_back(offset);
    m_link.Deliver(WireFrame(++m_lastSequence, CMD_BLOCK_REQUEST, BlockRequestPayload(length, offset)));
  }

  ScriptedLink& m_link;
  uint64_t m_total;
  uint16_t m_blockSize;
  uint8_t m_lastSequence = 0x40;
};

class DownloadWorkerTest : public WorkerTestBase {
 protected:
  // Prepares the job as the controller does: path, mode and the measured file size.
  std::string UseFile(const std::vector<uint8_t>& content, int mode) {
    const std::string path = dir.Write(mode == MODE_CHANNELS ? "list.fdu" : "soft.ird", content);
    job.m_strFilePath = path;
    job.m_nMode = mode;
    job.m_nFileSize = static_cast<int>(content.size());
    return path;
  }
  void SendBlockRequest(uint8_t sequence, uint16_t length, uint32_t offset) {
    link.Deliver(WireFrame(sequence, CMD_BLOCK_REQUEST, BlockRequestPayload(length, offset)));
  }
  // After `count` waits with nothing left to do, the user stops the transfer.
  void StopAfterWaits(int count) {
    OnWait([this, count, waits = 0](uint64_t) mutable {
      if (++waits >= count) StopLikeUser();
    });
  }
};

struct DownloadCase {
  size_t fileSize;
  uint16_t blockSize;
  bool incompressible = false;
};

class SoftwareDownloadTest : public DownloadWorkerTest,
                             public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(SoftwareDownloadTest, ServesTheFileByteForByteAndReportsEachBlocksOffset) {
  const auto content = RandomBytes(GetParam().fileSize, 7);
  UseFile(content, MODE_SOFTWARE);
  DownloadReceiver receiver(link, content.size(), GetParam().blockSize);
  receiver.SendRequest(0x21, 0);

  EXPECT_EQ(DownloadWorker(job), 1);

  EXPECT_EQ(receiver.served, content);
  ASSERT_GE(link.sentBytes.size(), 10u);
  EXPECT_TRUE(std::equal(WakeUpBurst, WakeUpBurst + 10, link.sentBytes.begin()));
  const auto accepts = FramesWithCommand(CMD_ACCEPT_DOWNLOAD);
  ASSERT_EQ(accepts.size(), 1u);
  EXPECT_EQ(accepts[0].sequence, 0x21);
  EXPECT_TRUE(accepts[0].payload.empty());

  std::vector<int> expected;
  for (uint32_t offset : receiver.offsets)
    expected.push_back(static_cast<int>(uint64_t{offset} * 100 / content.size()));
  expected.push_back(100);  // CMD_FINISH
  expected.push_back(0);    // the worker's end
  EXPECT_EQ(notify.ProgressValues(), expected);
  EXPECT_EQ(notify.CountStatus(text::kDownloading), static_cast<int>(receiver.offsets.size() + 1));
  EXPECT_EQ(notify.StatusTexts().back(), text::kComplete);
  EXPECT_EQ(notify.DisplayTimeOf(text::kComplete), -1);
  EXPECT_THAT(notify.DoneValues(), ElementsAre(1));
  EXPECT_EQ(job.m_nFileSize.load(), 0);  // the next start measures again
}

INSTANTIATE_TEST_SUITE_P(Sizes, SoftwareDownloadTest,
                         ::testing::Values(DownloadCase{1, 1}, DownloadCase{1000, 255},
                                           DownloadCase{4096, 512}, DownloadCase{4097, 512},
                                           DownloadCase{70000, 4096}, DownloadCase{65000, 65000}));

class ChannelDownloadTest : public DownloadWorkerTest,
                            public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(ChannelDownloadTest, ServesAnImageThatUnpacksToTheFileWithTheRequestValue) {
  auto content = RandomBytes(GetParam().fileSize, 11);
  // Half of it compresses, half does not; an incompressible list needs more room than twice
  // its size (header, block head and the bytes).
  if (!GetParam().incompressible)
    std::fill(content.begin(), content.begin() + static_cast<long>(content.size() / 2), uint8_t{'A'});
  const std::string path = UseFile(content, MODE_CHANNELS);
  std::vector<uint8_t> reference;
  const uint32_t imageSize = PackChannelImage(0xCAFE0102, path, reference, MODE_CHANNELS);
  ASSERT_GT(imageSize, 0u);
  DownloadReceiver receiver(link, imageSize, GetParam().blockSize);
  int sizeAtFinish = -1;
  notify.onProgress = [&](int percent) {
    if (percent == 100) sizeAtFinish = job.m_nFileSize;
  };
  receiver.SendRequest(3, 0xCAFE0102);

  EXPECT_EQ(DownloadWorker(job), 1);

  const ImageReport report = InspectImage(receiver.served.data(), receiver.served.size(), true);
  EXPECT_TRUE(report.valid) << report.error;
  EXPECT_EQ(report.requestValue, 0xCAFE0102u);
  EXPECT_EQ(report.content, content);
  EXPECT_EQ(sizeAtFinish, static_cast<int>(imageSize));  // progress counted against the image
  for (size_t i = 0; i + 2 < notify.ProgressValues().size(); ++i)
    EXPECT_EQ(notify.ProgressValues()[i],
              static_cast<int>(uint64_t{receiver.offsets[i]} * 100 / imageSize));
  EXPECT_EQ(notify.StatusTexts().back(), text::kComplete);
  EXPECT_EQ(job.m_nFileSize.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ChannelDownloadTest,
                         ::testing::Values(DownloadCase{100, 16}, DownloadCase{100, 236},
                                           DownloadCase{100, 236, true}, DownloadCase{32763, 1024},
                                           DownloadCase{80000, 4000}));

// One block request between CMD_REQUEST and CMD_FINISH, at the edges of what can be served.
struct EdgeRequest {
  const char* name;
  size_t fileSize;
  std::vector<uint8_t> payload;  // of the block request
  int servedFrom;                // first byte of the answer; -1: no answer
  std::vector<int> progress;
};

class EdgeRequestTest : public DownloadWorkerTest,
                        public ::testing::WithParamInterface<EdgeRequest> {};

TEST_P(EdgeRequestTest, IsAnsweredWithExactlyTheBytesInRange) {
  const auto content = RandomBytes(GetParam().fileSize, 2);
  UseFile(content, MODE_SOFTWARE);
  link.Deliver(WireFrame(1, CMD_REQUEST, {}));
  link.Deliver(WireFrame(2, CMD_BLOCK_REQUEST, GetParam().payload));
  link.Deliver(WireFrame(3, CMD_FINISH, {}));

  EXPECT_EQ(DownloadWorker(job), 1);
  const auto data = FramesWithCommand(CMD_BLOCK_DATA);
  if (GetParam().servedFrom < 0) {
    EXPECT_TRUE(data.empty());
  } else {
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0].sequence, 2);
    EXPECT_EQ(data[0].payload, std::vector<uint8_t>(content.begin() + GetParam().servedFrom,
                                                    content.end()));
  }
  EXPECT_EQ(notify.ProgressValues(), GetParam().progress);  // an empty file divides by nothing
}

INSTANTIATE_TEST_SUITE_P(
    Edges, EdgeRequestTest,
    ::testing::Values(EdgeRequest{"EmptyBlockAtTheEnd", 50, BlockRequestPayload(0, 50), 50, {100, 100, 0}},
                      EdgeRequest{"EmptyBlockOfAnEmptyFile", 0, BlockRequestPayload(0, 0), 0, {0, 100, 0}},
                      EdgeRequest{"EndingExactlyAtTheEnd", 300, BlockRequestPayload(100, 200), 200, {66, 100, 0}},
                      EdgeRequest{"TooShortForLengthAndOffset", 300, {0, 10}, -1, {100, 0}}),
    [](const auto& param) { return std::string(param.param.name); });

class OutOfRangeTest : public DownloadWorkerTest,
                       public ::testing::WithParamInterface<std::pair<uint16_t, uint32_t>> {};

// One byte past the end, and an offset near 4 GB whose end wraps to 16 in 32 bits.
TEST_P(OutOfRangeTest, StopsWithAnErrorAndServesNothing) {
  UseFile(RandomBytes(300, 2), MODE_SOFTWARE);
  link.Deliver(WireFrame(1, CMD_REQUEST, {}));
  SendBlockRequest(2, GetParam().first, GetParam().second);

  EXPECT_EQ(DownloadWorker(job), 0);
  EXPECT_TRUE(FramesWithCommand(CMD_BLOCK_DATA).empty());
  EXPECT_EQ(notify.StatusTexts().back(), text::kOutOfRange);
  EXPECT_EQ(notify.DisplayTimeOf(text::kOutOfRange), 3);
  EXPECT_EQ(notify.notices.back().kind, Notice::kDone);
  EXPECT_THAT(notify.DoneValues(), ElementsAre(0));
  EXPECT_TRUE(notify.ProgressValues().empty());
  EXPECT_EQ(notify.CountStatus(text::kComplete), 0);
}

INSTANTIATE_TEST_SUITE_P(Requests, OutOfRangeTest,
                         ::testing::Values(std::make_pair(uint16_t{101}, 200u),
                                           std::make_pair(uint16_t{0x20}, 0xFFFFFFF0u)));
TEST_F(DownloadWorkerTest, BlockRequestBeforeAnyRequestIsUnansweredButStillShownAndFeedsWatchdog) {
  UseFile(RandomBytes(300, 2), MODE_SOFTWARE);
  SendBlockRequest(5, 10, 0);
  int watchdogAfter = -7;
  OnWait([&](uint64_t) {
    watchdogAfter = job.m_nWatchdog;
    StopLikeUser();
  });

  EXPECT_EQ(DownloadWorker(job), 0);
  EXPECT_TRUE(link.sentFrames.empty());
  EXPECT_THAT(notify.StatusTexts(), ElementsAre(text::kDownloading));
  EXPECT_EQ(watchdogAfter, 0);
}

TEST_F(DownloadWorkerTest, WatchdogIsFedByRequestsAndBlockRequestsOnly) {
  UseFile(RandomBytes(300, 2), MODE_SOFTWARE);
  std::vector<int> seenAtAnswer;
  link.onFrame = [&](const SentFrame& frame) {
    seenAtAnswer.push_back(job.m_nWatchdog);
    job.m_nWatchdog = 9;  // the value a later frame must or must not reset
    if (frame.command == CMD_ACCEPT_DOWNLOAD) link.Deliver(WireFrame(2, CMD_SIZE_REPLY, {}));
  };
  link.Deliver(WireFrame(1, CMD_REQUEST, {}));
  std::vector<int> seenWhileWaiting;
  OnWait([&](uint64_t) {
    seenWhileWaiting.push_back(job.m_nWatchdog);
    if (seenWhileWaiting.size() == 1) {
      job.m_nWatchdog = 9;
      SendBlockRequest(3, 1, 0);  // ignored after the stray reply, yet it feeds the watchdog
    } else if (seenWhileWaiting.size() == 2) {
      job.m_nWatchdog = 9;
      link.Deliver(WireFrame(4, CMD_FINISH, {}));
    }
  });
  int atFinish = 0;
  notify.onProgress = [&](int percent) {
    if (percent == 100) atFinish = job.m_nWatchdog;
  };

  DownloadWorker(job);
  EXPECT_THAT(seenAtAnswer, ElementsAre(0));              // the request reset it
  ASSERT_GE(seenWhileWaiting.size(), 2u);
  EXPECT_EQ(seenWhileWaiting[0], 9);                      // the stray reply did not
  EXPECT_EQ(seenWhileWaiting[1], 0);                      // the ignored block request did
  EXPECT_EQ(atFinish, 9);                                 // CMD_FINISH does not
}

TEST_F(DownloadWorkerTest, UnexpectedCommandStopsServingUntilTheNextRequest) {
  const auto content = RandomBytes(300, 2);
  UseFile(content, MODE_SOFTWARE);
  link.Deliver(WireFrame(1, CMD_REQUEST, {}));
  SendBlockRequest(2, 10, 0);
  link.Deliver(WireFrame(3, CMD_SIZE_REPLY, Be32(5)));
  SendBlockRequest(4, 10, 10);  // ignored
  link.Deliver(WireFrame(5, CMD_REQUEST, {}));
  SendBlockRequest(6, 10, 20);
  link.Deliver(WireFrame(7, CMD_FINISH, {}));

  EXPECT_EQ(DownloadWorker(job), 1);
  const auto data = FramesWithCommand(CMD_BLOCK_DATA);
  ASSERT_EQ(data.size(), 2u);
  EXPECT_EQ(data[0].sequence, 2);
  EXPECT_EQ(data[1].sequence, 6);
  EXPECT_EQ(data[1].payload, std::vector<uint8_t>(content.begin() + 20, content.begin() + 30));
  EXPECT_EQ(FramesWithCommand(CMD_ACCEPT_DOWNLOAD).size(), 2u);
  EXPECT_EQ(notify.CountStatus(text::kDownloading), 5);
}

TEST_F(DownloadWorkerTest, FrameWithBadSumIsIgnored) {
  UseFile(RandomBytes(300, 2), MODE_SOFTWARE);
  link.Deliver(WireFrameBadSum(1, CMD_REQUEST, {}));
  link.Deliver(WireFrame(2, CMD_REQUEST, {}));
  link.Deliver(WireFrame(3, CMD_FINISH, {}));

  EXPECT_EQ(DownloadWorker(job), 1);
  const auto accepts = FramesWithCommand(CMD_ACCEPT_DOWNLOAD);
  ASSERT_EQ(accepts.size(), 1u);
  EXPECT_EQ(accepts[0].sequence, 2);
}

TEST_F(DownloadWorkerTest, EmptyChannelListFailsAtTheFirstRequest) {
  UseFile({}, MODE_CHANNELS);
  link.Deliver(WireFrame(1, CMD_REQUEST, Be32(1)));

  EXPECT_EQ(DownloadWorker(job), 0);
  EXPECT_EQ(FramesWithCommand(CMD_ACCEPT_DOWNLOAD).size(), 1u);  // answered before packing
  EXPECT_THAT(notify.StatusTexts(), ElementsAre(text::kDownloading, text::kFileOpenError));
  EXPECT_EQ(notify.DisplayTimeOf(text::kFileOpenError), 3);
  EXPECT_THAT(notify.DoneValues(), ElementsAre(0));
}

TEST_F(DownloadWorkerTest, ChannelListEmptiedAfterMeasuringIsAPackagingError) {
  const std::string path = UseFile(RandomBytes(100, 3), MODE_CHANNELS);
  ASSERT_EQ(::truncate(path.c_str(), 0), 0);
  link.Deliver(WireFrame(1, CMD_REQUEST, Be32(1)));

  EXPECT_EQ(DownloadWorker(job), 0);
  EXPECT_EQ(notify.StatusTexts().back(), text::kPackagingError);
  EXPECT_THAT(notify.DoneValues(), ElementsAre(0));
}

class UnopenableSourceTest : public DownloadWorkerTest, public ::testing::WithParamInterface<bool> {};

// A missing file, or a directory (which has a size), fails before the receiver is woken.
TEST_P(UnopenableSourceTest, FailsBeforeWakingTheReceiver) {
  const bool directory = GetParam();
  job.m_strFilePath = directory ? dir.Root() : dir.Path("absent.ird");
  job.m_nMode = MODE_SOFTWARE;
  job.m_nFileSize = directory ? 4096 : 0;

  EXPECT_EQ(DownloadWorker(job), 0);
  EXPECT_TRUE(link.sentBytes.empty());
  EXPECT_THAT(notify.StatusTexts(), ElementsAre(text::kFileOpenError));
  EXPECT_EQ(notify.DisplayTimeOf(text::kFileOpenError), 3);
  EXPECT_THAT(notify.DoneValues(), ElementsAre(0));
  EXPECT_TRUE(notify.ProgressValues().empty());
}

INSTANTIATE_TEST_SUITE_P(Sources, UnopenableSourceTest, ::testing::Bool());

TEST_F(DownloadWorkerTest, FileShrinkingUnderASoftwareDownloadIsAReadingFailure) {
  const std::string path = UseFile(RandomBytes(1000, 4), MODE_SOFTWARE);
  link.onFrame = [&](const SentFrame& frame) {
    if (frame.command != CMD_ACCEPT_DOWNLOAD) return;
    ASSERT_EQ(::truncate(path.c_str(), 600), 0);
    SendBlockRequest(2, 255, 510);
  };
  link.Deliver(WireFrame(1, CMD_REQUEST, {}));

  EXPECT_EQ(DownloadWorker(job), 0);
  EXPECT_TRUE(FramesWithCommand(CMD_BLOCK_DATA).empty());
  EXPECT_EQ(notify.StatusTexts().back(), text::kReadingFail);
  EXPECT_EQ(notify.DisplayTimeOf(text::kReadingFail), 3);
  EXPECT_THAT(notify.DoneValues(), ElementsAre(0));
}

// The file grows under the transfer and the window's path field changes: the next request packs
// the grown file the transfer started with.
TEST_F(DownloadWorkerTest, RepeatedRequestAfterTheFileGrewServesTheNewImageOfTheSameFile) {
  UseFile(RandomBytes(100, 6), MODE_CHANNELS);
  const auto grown = RandomBytes(70000, 8);
  std::vector<uint8_t> grownImage;
  const uint32_t grownSize = PackChannelImage(77, dir.Write("grown.fdu", grown), grownImage,
                                              MODE_CHANNELS);
  std::vector<uint8_t> served;
  uint8_t sequence = 10;
  uint32_t offset = 0;
  link.onFrame = [&](const SentFrame& frame) {
    if (frame.command == CMD_ACCEPT_DOWNLOAD && frame.sequence == 1) {
      SendBlockRequest(++sequence, 128, 0);  // a bit of the small image
      return;
    }
    if (frame.command == CMD_BLOCK_DATA && frame.sequence == 11) {
      dir.Write("list.fdu", grown);
      job.m_strFilePath = dir.Path("elsewhere.fdu");
      link.Deliver(WireFrame(2, CMD_REQUEST, Be32(77)));
      return;
    }
    if (frame.command == CMD_BLOCK_DATA) {
      served.insert(served.end(), frame.payload.begin(), frame.payload.end());
      offset += static_cast<uint32_t>(frame.payload.size());
    }
    if (offset >= grownSize) {
      link.Deliver(WireFrame(++sequence, CMD_FINISH, {}));
      return;
    }
    const auto length = static_cast<uint16_t>(std::min<uint32_t>(4000, grownSize - offset));
    SendBlockRequest(++sequence, length, offset);
  };
  link.Deliver(WireFrame(1, CMD_REQUEST, Be32(76)));

  EXPECT_EQ(DownloadWorker(job), 1);
  EXPECT_EQ(served, grownImage);
  EXPECT_EQ(InspectImage(served.data(), served.size(), true).content, grown);
}

// The user stops while waiting for the first request (-1), or after three blocks when the
// receiver goes quiet: no success, and the stop has already ended the transfer (no done note).
class DownloadStopTest : public DownloadWorkerTest, public ::testing::WithParamInterface<int> {};

TEST_P(DownloadStopTest, IsNoSuccess) {
  const int blocksServed = GetParam();
  UseFile(RandomBytes(5000, 1), MODE_SOFTWARE);
  DownloadReceiver receiver(link, 5000, 1000);
  receiver.beforeBlock = [blocksServed](uint32_t offset) {
    return offset < static_cast<uint32_t>(blocksServed) * 1000;  // then silence
  };
  if (blocksServed >= 0) receiver.SendRequest(1, 0);
  StopAfterWaits(3);

  EXPECT_EQ(DownloadWorker(job), 0);
  if (blocksServed < 0) {
    EXPECT_EQ(link.sentBytes, std::vector<uint8_t>(WakeUpBurst, WakeUpBurst + 10));
    EXPECT_TRUE(notify.StatusTexts().empty());
    EXPECT_THAT(notify.ProgressValues(), ElementsAre(0));
  } else {
    EXPECT_THAT(notify.ProgressValues(), ElementsAre(0, 20, 40, 0));
  }
  EXPECT_EQ(notify.CountStatus(text::kComplete), 0);
  EXPECT_TRUE(notify.DoneValues().empty());
  EXPECT_EQ(job.m_nFileSize.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Phases, DownloadStopTest, ::testing::Values(-1, 3));

// The watchdog trips while the receiver's CMD_FINISH is being handled: still no success.
TEST_F(DownloadWorkerTest, WatchdogTripIsNoSuccessEvenAfterTheFinish) {
  UseFile(RandomBytes(5000, 1), MODE_SOFTWARE);
  link.Deliver(WireFrame(1, CMD_REQUEST, {}));
  link.Deliver(WireFrame(2, CMD_FINISH, {}));
  notify.onProgress = [this](int percent) {
    if (percent == 100) job.m_bWatchdogTripped = 1;
  };

  EXPECT_EQ(DownloadWorker(job), 0);
  EXPECT_EQ(notify.CountStatus(text::kComplete), 0);
  EXPECT_EQ(notify.ProgressValues().back(), 0);
}

// The port goes away while waiting for the first request (-1), or after the first two blocks.
class DownloadHangUpTest : public DownloadWorkerTest, public ::testing::WithParamInterface<int> {};

TEST_P(DownloadHangUpTest, EndsAtOnceWithTheDisconnectedText) {
  const int blocksServed = GetParam();
  UseFile(RandomBytes(5000, 1), MODE_SOFTWARE);
  DownloadReceiver receiver(link, 5000, 1000);
  receiver.beforeBlock = [this, blocksServed](uint32_t offset) {
    if (offset < static_cast<uint32_t>(blocksServed) * 1000) return true;
    link.HangUp();
    return false;
  };
  if (blocksServed < 0) {
    OnWait([this](uint64_t) { link.HangUp(); });
  } else {
    receiver.SendRequest(1, 0);
  }

  EXPECT_EQ(DownloadWorker(job), 0);
  EXPECT_EQ(notify.CountStatus(text::kDownloading), blocksServed < 0 ? 0 : blocksServed + 1);
  EXPECT_EQ(notify.StatusTexts().back(), text::kPortDisconnected);
  EXPECT_EQ(notify.DisplayTimeOf(text::kPortDisconnected), 3);
  EXPECT_EQ(notify.notices.back().kind, Notice::kDone);
  EXPECT_EQ(notify.CountStatus(text::kComplete), 0);
  EXPECT_THAT(notify.DoneValues(), ElementsAre(0));
}

INSTANTIATE_TEST_SUITE_P(Phases, DownloadHangUpTest, ::testing::Values(-1, 2));

}  // namespace
}  // namespace kestal::testing
