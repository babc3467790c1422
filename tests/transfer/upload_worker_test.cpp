// The upload worker against a scripted receiver: the exchange, its sequence numbers and limits,
// and that the target file is only ever replaced by a complete data set.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "transfer/worker_harness.h"
#include "transfer/workers.h"

namespace kestal::testing {
namespace {

using ::testing::ElementsAre;

// Plays the receiver of an upload: answers size queries and block requests from `data`.
// `intercept` may take over any frame (return true when it did).
class UploadReceiver {
 public:
  UploadReceiver(ScriptedLink& link, std::vector<uint8_t> data)
      : reportedSize(static_cast<uint32_t>(data.size())), m_link(link), m_data(std::move(data)) {
    link.onFrame = [this](const SentFrame& frame) { OnFrame(frame); };
  }

  void SendRequest(uint8_t sequence) { m_link.Deliver(WireFrame(sequence, CMD_REQUEST, {})); }

  uint32_t reportedSize;
  std::function<bool(const SentFrame&)> intercept;
  std::vector<SentFrame> blockRequests;

 private:
  void OnFrame(const SentFrame& frame) {
    EXPECT_TRUE(frame.sumOk);
    if (frame.command == CMD_BLOCK_REQUEST) blockRequests.push_back(frame);
    if (intercept && intercept(frame)) return;
    if (frame.command == CMD_SIZE_QUERY) {
      m_link.Deliver(WireFrame(frame.sequence, CMD_SIZE_REPLY, Be32(reportedSize)));
    } else if (frame.command == CMD_BLOCK_REQUEST) {
      const uint16_t length = GetBE16(frame.payload.data());
      const uint32_t offset = GetBE32(frame.payload.data() + 2);
      const auto begin = m_data.begin() + offset;
      m_link.Deliver(WireFrame(frame.sequence, CMD_BLOCK_DATA, std::vector<uint8_t>(begin, begin + length)));
    }
  }

  ScriptedLink& m_link;
  std::vector<uint8_t> m_data;
};

class UploadWorkerTest : public WorkerTestBase {
 protected:
  UploadWorkerTest() {
    job.m_strFilePath = dir.Path("channels.fdu");
    job.m_nMode = MODE_CHANNELS;
    job.m_nDirection = DIR_TO_COMPUTER;
  }
  // A target that already holds a channel list, which no failure may damage.
  std::vector<uint8_t> KeepOldTarget() {
    auto old = RandomBytes(777, 99);
    dir.Write("channels.fdu", old);
    return old;
  }
  void ExpectOnlyTarget() { EXPECT_THAT(dir.Entries(), ElementsAre("channels.fdu")); }
  void ExpectEndedWith(const std::string& lastStatus) {
    EXPECT_EQ(notify.StatusTexts().back(), lastStatus);
    EXPECT_EQ(notify.DisplayTimeOf(lastStatus), 3);
    EXPECT_EQ(notify.notices.back().kind, Notice::kDone);
    EXPECT_THAT(notify.DoneValues(), ElementsAre(0));
    EXPECT_EQ(notify.CountStatus(text::kComplete), 0);
    EXPECT_TRUE(FramesWithCommand(CMD_FINISH).empty());
  }
};

class UploadSizeTest : public UploadWorkerTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(UploadSizeTest, FetchesTheDataSetInNumberedBlocksAndReplacesTheTarget) {
  KeepOldTarget();
  const auto data = RandomBytes(GetParam(), 3);
  UploadReceiver receiver(link, data);
  receiver.SendRequest(0xF0);

  EXPECT_EQ(UploadWorker(job), 1);

  EXPECT_EQ(ReadAll(job.m_strFilePath), data);
  ExpectOnlyTarget();
  ASSERT_GE(link.sentBytes.size(), 10u);
  EXPECT_TRUE(std::equal(WakeUpBurst, WakeUpBurst + 10, link.sentBytes.begin()));
  // accept (request's number), query (+1), one request per block, finish: each one more.
  const auto& frames = link.sentFrames;
  ASSERT_EQ(frames.size(), receiver.blockRequests.size() + 3);
  EXPECT_EQ(frames[0].command, CMD_ACCEPT_UPLOAD);
  EXPECT_EQ(frames[0].sequence, 0xF0);
  EXPECT_EQ(frames[1].command, CMD_SIZE_QUERY);
  EXPECT_EQ(frames[1].payload, Be16(DATA_TYPE_CHANNELS));
  EXPECT_EQ(frames.back().command, CMD_FINISH);
  EXPECT_TRUE(frames.back().payload.empty());
  for (size_t i = 1; i < frames.size(); ++i)
    EXPECT_EQ(frames[i].sequence, static_cast<uint8_t>(0xF0 + i)) << "frame " << i;

  uint32_t offset = 0;
  std::vector<int> expectedProgress;
  for (const auto& request : receiver.blockRequests) {
    const uint16_t length = GetBE16(request.payload.data());
    EXPECT_EQ(GetBE32(request.payload.data() + 2), offset);
    EXPECT_EQ(length, std::min<size_t>(255, data.size() - offset));
    offset += length;
    expectedProgress.push_back(static_cast<int>(uint64_t{offset} * 100 / data.size()));
  }
  EXPECT_EQ(offset, data.size());
  expectedProgress.push_back(100);
  EXPECT_EQ(notify.ProgressValues(), expectedProgress);
  EXPECT_THAT(notify.StatusTexts(), ElementsAre(text::kUploading, text::kComplete));
  EXPECT_EQ(notify.DisplayTimeOf(text::kUploading), -1);
  EXPECT_EQ(notify.DisplayTimeOf(text::kComplete), -1);
  EXPECT_THAT(notify.DoneValues(), ElementsAre(1));
}

INSTANTIATE_TEST_SUITE_P(Sizes, UploadSizeTest, ::testing::Values(1, 255, 256, 1000, 70000));

TEST_F(UploadWorkerTest, NewTargetGetsTheUsualPermissions) {
  const mode_t mask = ::umask(022);
  UploadReceiver receiver(link, RandomBytes(10, 3));
  receiver.SendRequest(1);
  EXPECT_EQ(UploadWorker(job), 1);
  ::umask(mask);
  struct stat info {};
  ASSERT_EQ(::stat(job.m_strFilePath.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

// In the size phase the receiver starts over once, then answers with a stale number and with
// a reply too short to hold a size: each is answered or asked again, and the upload completes.
TEST_F(UploadWorkerTest, SizePhaseSurvivesARestartAndStrayOrShortReplies) {
  UploadReceiver receiver(link, RandomBytes(300, 3));
  int queries = 0;
  receiver.intercept = [&](const SentFrame& frame) {
    if (frame.command != CMD_SIZE_QUERY) return false;
    ++queries;
    if (queries == 1) link.Deliver(WireFrame(0x33, CMD_REQUEST, {}));
    if (queries == 2) link.Deliver(WireFrame(frame.sequence - 1, CMD_SIZE_REPLY, Be32(300)));
    if (queries == 3) link.Deliver(WireFrame(frame.sequence, CMD_SIZE_REPLY, {0, 0}));
    return queries <= 3;
  };
  receiver.SendRequest(7);

  EXPECT_EQ(UploadWorker(job), 1);
  const auto accepts = FramesWithCommand(CMD_ACCEPT_UPLOAD);
  ASSERT_EQ(accepts.size(), 2u);
  EXPECT_EQ(accepts[1].sequence, 0x33);
  std::vector<int> querySequences;
  for (const auto& query : FramesWithCommand(CMD_SIZE_QUERY)) querySequences.push_back(query.sequence);
  EXPECT_THAT(querySequences, ElementsAre(8, 0x34, 0x35, 0x36));
  EXPECT_EQ(ReadAll(job.m_strFilePath).size(), 300u);
}

TEST_F(UploadWorkerTest, TwentyFailedAttemptsEndTheTransferWithoutATwentyFirst) {
  const auto old = KeepOldTarget();
  UploadReceiver receiver(link, RandomBytes(600, 3));
  receiver.intercept = [&](const SentFrame& frame) {
    if (frame.command != CMD_BLOCK_REQUEST || GetBE32(frame.payload.data() + 2) == 0) return false;
    // Wrong answers of every kind for the second block.
    const auto n = receiver.blockRequests.size();
    if (n % 3 == 0) link.Deliver(WireFrame(frame.sequence - 1, CMD_BLOCK_DATA, RandomBytes(255, 1)));
    if (n % 3 == 1) link.Deliver(WireFrame(frame.sequence, CMD_BLOCK_DATA, RandomBytes(254, 1)));
    if (n % 3 == 2) link.Deliver(WireFrame(frame.sequence, CMD_REQUEST, {}));
    return true;
  };
  receiver.SendRequest(1);

  EXPECT_EQ(UploadWorker(job), 0);
  EXPECT_EQ(receiver.blockRequests.size(), 1u + UPLOAD_ATTEMPTS);
  ExpectEndedWith(text::kCommunicationError);
  EXPECT_EQ(ReadAll(job.m_strFilePath), old);
  ExpectOnlyTarget();
}

TEST_F(UploadWorkerTest, ABlockSucceedsAfterFailedAttemptsWithTheLatestNumber) {
  const auto data = RandomBytes(100, 3);
  UploadReceiver receiver(link, data);
  receiver.intercept = [&](const SentFrame& frame) {
    if (frame.command != CMD_BLOCK_REQUEST || receiver.blockRequests.size() > 19) return false;
    link.Deliver(WireFrame(frame.sequence - 1, CMD_BLOCK_DATA, std::vector<uint8_t>(100)));
    return true;
  };
  receiver.SendRequest(1);

  EXPECT_EQ(UploadWorker(job), 1);
  EXPECT_EQ(receiver.blockRequests.size(), 20u);
  EXPECT_EQ(ReadAll(job.m_strFilePath), data);
}

TEST_F(UploadWorkerTest, SizeZeroIsACommunicationError) {
  const auto old = KeepOldTarget();
  UploadReceiver receiver(link, {});
  receiver.SendRequest(1);

  EXPECT_EQ(UploadWorker(job), 0);
  EXPECT_TRUE(receiver.blockRequests.empty());
  EXPECT_THAT(notify.StatusTexts(), ElementsAre(text::kUploading, text::kCommunicationError));
  ExpectEndedWith(text::kCommunicationError);
  EXPECT_EQ(ReadAll(job.m_strFilePath), old);
  ExpectOnlyTarget();
}

// The file size limit makes the third block's write fail, as a full disk would.
TEST_F(UploadWorkerTest, WriteFailureNamesTheOffsetAndLeavesTheOldTarget) {
  const auto old = KeepOldTarget();
  UploadReceiver receiver(link, RandomBytes(1000, 3));
  receiver.SendRequest(1);
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limited = saved;
  limited.rlim_cur = 600;
  const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);

  const int result = UploadWorker(job);

  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previousHandler);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(receiver.blockRequests.size(), 3u);
  ExpectEndedWith("Writing error 510");
  EXPECT_EQ(ReadAll(job.m_strFilePath), old);
  ExpectOnlyTarget();
}

TEST_F(UploadWorkerTest, SymbolicLinkTargetKeepsTheLinkAndReplacesTheFileItNames) {
  const std::string real = dir.Write("real.fdu", RandomBytes(50, 1));
  ASSERT_EQ(::symlink(real.c_str(), job.m_strFilePath.c_str()), 0);
  const auto data = RandomBytes(300, 3);
  UploadReceiver receiver(link, data);
  receiver.SendRequest(1);

  EXPECT_EQ(UploadWorker(job), 1);
  struct stat info {};
  ASSERT_EQ(::lstat(job.m_strFilePath.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(ReadAll(real), data);
}

// A directory, a file in a missing directory, and a path over 1023 characters.
class UnopenableTargetTest : public UploadWorkerTest, public ::testing::WithParamInterface<int> {};

TEST_P(UnopenableTargetTest, FailsBeforeTheSizeQueryAndLeavesNothing) {
  std::string longPath = dir.Root() + "/";
  longPath += std::string(1024 - longPath.size(), 'x');
  const std::string paths[] = {dir.Root(), dir.Path("no-such-dir/channels.fdu"), longPath};
  job.m_strFilePath = paths[GetParam()];
  UploadReceiver receiver(link, RandomBytes(10, 3));
  receiver.SendRequest(1);

  EXPECT_EQ(UploadWorker(job), 0);
  EXPECT_THAT(notify.StatusTexts(), ElementsAre(text::kFileOpenError));
  ExpectEndedWith(text::kFileOpenError);
  EXPECT_TRUE(FramesWithCommand(CMD_SIZE_QUERY).empty());
  EXPECT_TRUE(dir.Entries().empty());
}

INSTANTIATE_TEST_SUITE_P(Targets, UnopenableTargetTest, ::testing::Values(0, 1, 2));

// Stopped between blocks (false: as the second block's progress is shown) or while waiting for
// the second block's data (true): no success, no CMD_FINISH, no text, the old target kept.
class StopInTheDataTest : public UploadWorkerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(StopInTheDataTest, IsNoSuccessAndKeepsTheOldTarget) {
  const bool duringBlock = GetParam();
  const auto old = KeepOldTarget();
  UploadReceiver receiver(link, RandomBytes(1000, 3));
  if (duringBlock) {
    receiver.intercept = [&](const SentFrame& frame) {
      return frame.command == CMD_BLOCK_REQUEST && receiver.blockRequests.size() == 2;
    };
    OnWait([this](uint64_t) { StopLikeUser(); });
  } else {
    notify.onProgress = [this](int percent) {
      if (percent == 51) StopLikeUser();
    };
  }
  receiver.SendRequest(1);

  EXPECT_EQ(UploadWorker(job), 0);
  EXPECT_EQ(receiver.blockRequests.size(), 2u);
  EXPECT_THAT(notify.StatusTexts(), ElementsAre(text::kUploading));
  EXPECT_EQ(notify.ProgressValues(), (duringBlock ? std::vector<int>{25} : std::vector<int>{25, 51}));
  EXPECT_THAT(notify.DoneValues(), ElementsAre(0));
  EXPECT_TRUE(FramesWithCommand(CMD_FINISH).empty());
  EXPECT_EQ(ReadAll(job.m_strFilePath), old);
  ExpectOnlyTarget();
}

INSTANTIATE_TEST_SUITE_P(Phases, StopInTheDataTest, ::testing::Bool());

// Stopped while waiting for the receiver's request (false) or for its size reply (true).
class StopBeforeTheDataTest : public UploadWorkerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(StopBeforeTheDataTest, IsACommunicationErrorAndKeepsTheOldTarget) {
  const bool afterRequest = GetParam();
  const auto old = KeepOldTarget();
  UploadReceiver receiver(link, RandomBytes(10, 3));
  receiver.intercept = [](const SentFrame& frame) { return frame.command == CMD_SIZE_QUERY; };
  OnWait([this](uint64_t) { StopLikeUser(); });
  if (afterRequest) receiver.SendRequest(1);

  EXPECT_EQ(UploadWorker(job), 0);
  EXPECT_EQ(FramesWithCommand(CMD_SIZE_QUERY).size(), afterRequest ? 1u : 0u);
  EXPECT_EQ(link.sentFrames.size(), afterRequest ? 2u : 0u);
  EXPECT_THAT(notify.StatusTexts(), ElementsAre(text::kUploading, text::kCommunicationError));
  ExpectEndedWith(text::kCommunicationError);
  EXPECT_EQ(ReadAll(job.m_strFilePath), old);
  ExpectOnlyTarget();
}

INSTANTIATE_TEST_SUITE_P(Phases, StopBeforeTheDataTest, ::testing::Bool());

class UploadHangUpTest : public UploadWorkerTest, public ::testing::WithParamInterface<uint8_t> {};

// The port goes away right after the worker sent the given command (0: before any frame).
TEST_P(UploadHangUpTest, EndsAtOnceWithTheOldTargetKept) {
  const auto old = KeepOldTarget();
  const uint8_t hangUpAfter = GetParam();
  UploadReceiver receiver(link, RandomBytes(1000, 3));
  receiver.intercept = [&](const SentFrame& frame) {
    const bool secondBlock = frame.command == CMD_BLOCK_REQUEST && receiver.blockRequests.size() == 2;
    if (frame.command != hangUpAfter || (hangUpAfter == CMD_BLOCK_REQUEST && !secondBlock)) {
      return false;
    }
    link.HangUp();
    return true;
  };
  if (hangUpAfter == 0) {
    link.HangUp();
  } else {
    receiver.SendRequest(1);
  }

  EXPECT_EQ(UploadWorker(job), 0);
  ExpectEndedWith(text::kPortDisconnected);
  EXPECT_EQ(ReadAll(job.m_strFilePath), old);
  ExpectOnlyTarget();
}

INSTANTIATE_TEST_SUITE_P(Phases, UploadHangUpTest,
                         ::testing::Values(uint8_t{0}, CMD_SIZE_QUERY, CMD_BLOCK_REQUEST));

TEST_F(UploadWorkerTest, WatchdogIsResetAfterTheRequestEverySizePassAndEachBlockNotEachAttempt) {
  UploadReceiver receiver(link, RandomBytes(300, 3));
  std::vector<std::pair<uint8_t, int>> seen;  // command sent, watchdog at that moment
  int queries = 0;
  receiver.intercept = [&](const SentFrame& frame) {
    seen.emplace_back(frame.command, job.m_nWatchdog.load());
    job.m_nWatchdog = 9;
    if (frame.command == CMD_SIZE_QUERY && ++queries == 1) {
      link.Deliver(WireFrame(0x77, CMD_BLOCK_DATA, {}));  // stray frame: one more pass
      return true;
    }
    // The first attempt of the first block gets a stale answer.
    if (frame.command != CMD_BLOCK_REQUEST || receiver.blockRequests.size() != 1) return false;
    link.Deliver(WireFrame(frame.sequence - 1, CMD_BLOCK_DATA, std::vector<uint8_t>(255)));
    return true;
  };
  receiver.SendRequest(1);

  EXPECT_EQ(UploadWorker(job), 1);
  ASSERT_EQ(seen.size(), 7u);
  EXPECT_EQ(seen[0], std::make_pair(CMD_ACCEPT_UPLOAD, -1));  // not before the request
  EXPECT_EQ(seen[1], std::make_pair(CMD_SIZE_QUERY, 0));      // after the request
  EXPECT_EQ(seen[2], std::make_pair(CMD_SIZE_QUERY, 0));      // after the first pass
  EXPECT_EQ(seen[3], std::make_pair(CMD_BLOCK_REQUEST, 0));   // a new block
  EXPECT_EQ(seen[4], std::make_pair(CMD_BLOCK_REQUEST, 9));   // a retry is no new block
  EXPECT_EQ(seen[5], std::make_pair(CMD_BLOCK_REQUEST, 0));   // the second block
  EXPECT_EQ(seen[6], std::make_pair(CMD_FINISH, 9));
}

// A receiver that takes its time is waited for: the worker asks once and takes the answer when
// it comes, however long after its own frame time-outs, as long as the watchdog allows.
TEST_F(UploadWorkerTest, SlowAnswersAreWaitedForWithoutAskingAgain) {
  const auto data = RandomBytes(300, 3);
  UploadReceiver receiver(link, data);
  receiver.intercept = [&](const SentFrame& frame) {
    const uint64_t later = clock.NowMs() + 3000;
    if (frame.command == CMD_SIZE_QUERY) {
      link.DeliverAt(later, WireFrame(frame.sequence, CMD_SIZE_REPLY, Be32(300)));
      return true;
    }
    if (frame.command != CMD_BLOCK_REQUEST) return false;
    const uint16_t length = GetBE16(frame.payload.data());
    const auto begin = data.begin() + GetBE32(frame.payload.data() + 2);
    link.DeliverAt(later, WireFrame(frame.sequence, CMD_BLOCK_DATA,
                                    std::vector<uint8_t>(begin, begin + length)));
    return true;
  };
  receiver.SendRequest(1);

  EXPECT_EQ(UploadWorker(job), 1);
  EXPECT_EQ(FramesWithCommand(CMD_SIZE_QUERY).size(), 1u);
  EXPECT_EQ(receiver.blockRequests.size(), 2u);
  EXPECT_EQ(ReadAll(job.m_strFilePath), data);
}

}  // namespace
}  // namespace kestal::testing
