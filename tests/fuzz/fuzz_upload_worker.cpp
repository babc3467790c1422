// Fuzzes the upload worker's handling of the receiver's traffic. The worker runs on this thread
// against a ScriptedLink whose receiver follows the fuzzer's script (see upload_script.h): right
// answers, late, split or corrupted ones, frames and noise of the fuzzer's making, stops and
// hang-ups. Every run ends: a run that passes 120 s of fake time is stopped like a user would.
//
// Checked after each run: the worker returned with exactly one end notification; a completed
// upload left exactly the data the worker accepted, at the size the receiver reported; any other
// end left no temporary file and the old target as it was.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "fuzz/fuzz_input.h"
#include "fuzz/upload_script.h"
#include "support/fake_link.h"
#include "transfer/workers.h"

namespace kestal::fuzz {
namespace {

namespace fs = std::filesystem;
using testing::ManualClock;
using testing::ScriptedLink;
using testing::SentFrame;

constexpr uint64_t kRunLimitMs = 120 * 1000;
const std::vector<uint8_t> kOldTargetBytes(300, 0x5A);

// One directory per fuzzing process, emptied after every run. Shared memory when there is
// some: completed uploads sync their file, which is slow on a disk.
class ScratchDir {
 public:
  ScratchDir() {
    const char* tmp = std::getenv("TMPDIR");
    fs::path base = tmp ? fs::path(tmp) : fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
    std::string pattern = (base / "kestal-fuzz-XXXXXX").string();
    Check(::mkdtemp(pattern.data()) != nullptr, "cannot make a scratch directory");
    m_root = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
  }
  const fs::path& Root() const { return m_root; }
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_root)) names.insert(entry.path().filename());
    return names;
  }
  void Empty() const {
    for (const auto& entry : fs::directory_iterator(m_root)) fs::remove_all(entry.path());
  }

 private:
  fs::path m_root;
};

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What the user's Stop does as the worker sees it.
void StopLikeUser(TransferJob& job, Link& link) {
  job.m_bRunning = 0;
  job.m_bTransferActive = 0;
  link.CloseLink();
}

// The front end: records the end and, like the controller, stops the job and closes the link.
class EndRecorder : public TransferNotify {
 public:
  EndRecorder(TransferJob& job, Link& link) : m_job(job), m_link(link) {}
  void NotifyStatus(std::unique_ptr<StatusNote> note) override {
    Check(doneCount == 0, "status after the end");
    if (std::getenv("KESTAL_FUZZ_VERBOSE")) std::fprintf(stderr, "status: %s\n", note->szText);
    if (std::string(note->szText) == text::kComplete) ++completeTexts;
  }
  void NotifyProgress(int percent) override {
    Check(doneCount == 0, "progress after the end");
    Check(percent >= lastProgress && percent <= 100, "progress goes back or past 100");
    lastProgress = percent;
    if (++progressCount == stopAtProgress) StopLikeUser(m_job, m_link);
  }
  void NotifyDone(int completed) override {
    if (std::getenv("KESTAL_FUZZ_VERBOSE")) std::fprintf(stderr, "done: %d\n", completed);
    ++doneCount;
    doneValue = completed;
    m_job.m_bRunning = 0;
    m_job.m_bTransferActive = 0;
    m_link.CloseLink();
  }
  void NotifyWorkerExit(bool) override {}

  int doneCount = 0;
  int doneValue = -1;
  int completeTexts = 0;
  int lastProgress = 0;
  int progressCount = 0;
  int stopAtProgress = 0;  // 0: never

 private:
  TransferJob& m_job;
  Link& m_link;
};

// What the worker asked for and what it was given, to judge the file it leaves.
struct Exchange {
  std::set<uint8_t> sizeQuerySequences;
  std::map<uint32_t, std::set<std::pair<uint8_t, uint16_t>>> blockRequests;  // offset: seq, n
  std::vector<std::vector<uint8_t>> receivedBodies;  // intact frames the worker received
  uint32_t lastOffset = 0;                           // of the last block asked for
  uint32_t nextOffset = 0;                           // the end of that block
};

// The fake receiver: plays the script against the worker's frames.
class ScriptedReceiver {
 public:
  ScriptedReceiver(FuzzInput& script, ScriptedLink& link, ManualClock& clock, TransferJob& job,
                   Exchange& exchange)
      : m_script(script), m_link(link), m_clock(clock), m_job(job), m_exchange(exchange) {}

  // Called before the worker starts, then with every frame the worker sends.
  void React(const SentFrame* sent) {
    if (sent) Record(*sent);
    while (!m_script.Empty() && Act(sent)) {
    }
  }

 private:
  void Record(const SentFrame& sent) {
    Check(sent.sumOk, "the worker sent a frame with a wrong sum");
    Check(sent.command == CMD_ACCEPT_UPLOAD || sent.command == CMD_SIZE_QUERY ||
              sent.command == CMD_BLOCK_REQUEST || sent.command == CMD_FINISH,
          "the worker sent a command that has no place in an upload");
    if (sent.command == CMD_SIZE_QUERY) {
      Check(sent.payload.size() == 2 && GetBE16(sent.payload.data()) == DATA_TYPE_CHANNELS,
            "size query without the channel data set code");
      m_exchange.sizeQuerySequences.insert(sent.sequence);
    } else if (sent.command == CMD_BLOCK_REQUEST) {
      Check(sent.payload.size() == 6, "block request payload is not 6 bytes");
      const uint16_t n = GetBE16(sent.payload.data());
      const uint32_t offset = GetBE32(sent.payload.data() + 2);
      Check(n >= 1 && n <= UPLOAD_BLOCK_MAX, "block request outside 1 to 255 bytes");
      Check(offset == m_exchange.lastOffset || offset == m_exchange.nextOffset,
            "a block request skips data or goes back");
      m_exchange.blockRequests[offset].insert({sent.sequence, n});
      m_exchange.lastOffset = offset;
      m_exchange.nextOffset = offset + n;
    }
  }

  // Plays one action; true when the next action belongs to the same point.
  bool Act(const SentFrame* sent) {
    switch (m_script.Byte() % kActionCount) {
      case kAnswer: Send(Answer(sent), 0); return false;
      case kAnswerLater: {
        auto answer = Answer(sent);
        Send(answer, Delay());
        return false;
      }
      case kFrame: Send(FuzzedFrame(sent), 0); return true;
      case kRaw: {
        auto bytes = m_script.Bytes(m_script.Byte());
        Send(bytes, Delay());
        return true;
      }
      case kAnswerBadSum: {
        auto answer = Answer(sent);
        if (!answer.empty()) ++answer.back();
        Send(answer, 0);
        return true;  // the worker waits on: only an intact frame makes it send again
      }
      case kAnswerSplit: SendSplit(Answer(sent)); return false;
      case kSilence: return false;
      case kStop: StopLikeUser(m_job, m_link); return false;
      case kHangUp: m_link.HangUp(); return false;
      case kRequestThenAnswer: {
        Send(testing::WireFrame(m_script.Byte(), CMD_REQUEST, {}), 0);
        Send(Answer(sent), 0);
        return false;
      }
    }
    return false;
  }

  uint64_t Delay() { return m_script.Byte() * kDelayUnitMs; }

  std::vector<uint8_t> DataSet(uint32_t offset, size_t length) const {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = DataSetByte(offset + static_cast<uint32_t>(i));
    return bytes;
  }

  std::vector<uint8_t> Answer(const SentFrame* sent) {
    if (!sent) return testing::WireFrame(m_script.Byte(), CMD_REQUEST, {});
    if (sent->command == CMD_SIZE_QUERY) {
      const uint32_t size = m_script.BE32();
      return testing::WireFrame(sent->sequence, CMD_SIZE_REPLY,
                                {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8),
                                 uint8_t(size)});
    }
    if (sent->command == CMD_BLOCK_REQUEST) {
      return testing::WireFrame(sent->sequence, CMD_BLOCK_DATA,
                                DataSet(m_exchange.lastOffset, GetBE16(sent->payload.data())));
    }
    return {};
  }

  std::vector<uint8_t> FuzzedFrame(const SentFrame* sent) {
    const auto sequence = static_cast<uint8_t>((sent ? sent->sequence : 0) + m_script.Byte());
    const auto command = static_cast<uint8_t>(m_script.Byte() % 10);
    const size_t length = m_script.Byte();
    std::vector<uint8_t> payload;
    if (command == CMD_BLOCK_DATA) {
      payload = DataSet(m_exchange.lastOffset, length);
    } else if (command == CMD_SIZE_REPLY) {
      payload = m_script.Bytes(4);
      payload.resize(length);
    } else {
      payload = m_script.Bytes(length);
    }
    auto wire = testing::WireFrame(sequence, command, payload);
    const uint64_t delay = Delay();
    if (delay == 0) return wire;
    Send(wire, delay);
    return {};
  }

  void SendSplit(const std::vector<uint8_t>& wire) {
    if (wire.empty()) return;
    const size_t split = m_script.Byte() % wire.size();
    Send({wire.begin(), wire.begin() + static_cast<long>(split)}, 0);
    Send({wire.begin() + static_cast<long>(split), wire.end()}, Delay());
  }

  void Send(const std::vector<uint8_t>& bytes, uint64_t delayMs) {
    if (!bytes.empty()) m_link.DeliverAt(m_clock.NowMs() + delayMs, bytes);
  }

  FuzzInput& m_script;
  ScriptedLink& m_link;
  ManualClock& m_clock;
  TransferJob& m_job;
  Exchange& m_exchange;
};

std::string PrepareTarget(const ScratchDir& dir, uint8_t setup) {
  const fs::path target = dir.Root() / "channels.fdu";
  switch (setup % kSetupCount) {
    case kOldTarget: {
      std::ofstream out(target, std::ios::binary);
      out.write(reinterpret_cast<const char*>(kOldTargetBytes.data()), std::streamsize(kOldTargetBytes.size()));
      break;
    }
    case kTargetIsDir: fs::create_directory(target); break;
    case kTargetTooLong: return (dir.Root() / std::string(1100, 'x')).string();
    default: break;
  }
  return target.string();
}

// True when the intact frames received hold one that the worker may have taken as this answer.
bool Received(const Exchange& exchange, uint8_t command, const std::set<uint8_t>& sequences,
              const uint8_t* payload, size_t length, bool exactLength) {
  for (const auto& body : exchange.receivedBodies) {
    if (body[1] != command || !sequences.count(body[0])) continue;
    const size_t n = GetBE16(&body[2]);
    if (exactLength ? n != length : n < length) continue;
    if (std::equal(payload, payload + length, body.begin() + FRAME_HEADER_SIZE)) return true;
  }
  return false;
}

void CheckCompletedFile(const Exchange& exchange, const std::vector<uint8_t>& file) {
  Check(!file.empty(), "a completed upload left an empty file");
  uint8_t sizeBytes[4];
  PutBE32(sizeBytes, static_cast<uint32_t>(file.size()));
  Check(file.size() <= UINT32_MAX &&
            Received(exchange, CMD_SIZE_REPLY, exchange.sizeQuerySequences, sizeBytes, 4, false),
        "the file's size is not the size the receiver reported");
  for (uint32_t offset = 0; offset < file.size();) {
    const auto it = exchange.blockRequests.find(offset);
    Check(it != exchange.blockRequests.end(), "the file holds bytes never asked for");
    const auto n = static_cast<uint16_t>(std::min<size_t>(file.size() - offset, UPLOAD_BLOCK_MAX));
    std::set<uint8_t> sequences;
    for (const auto& [sequence, length] : it->second)
      if (length == n) sequences.insert(sequence);
    Check(Received(exchange, CMD_BLOCK_DATA, sequences, file.data() + offset, n, true),
          "a block of the file is not data the receiver sent for it");
    offset += n;
  }
}

}  // namespace
}  // namespace kestal::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestal;
  using namespace kestal::fuzz;
  static ScratchDir dir;
  FuzzInput script(data, size);
  const uint8_t setupByte = script.Byte();
  const uint8_t setup = setupByte % kSetupCount;
  const std::string target = PrepareTarget(dir, setup);
  const auto entriesBefore = dir.Entries();

  ManualClock clock;
  ScriptedLink link(clock);
  TransferJob job;
  EndRecorder front(job, link);
  front.stopAtProgress = setupByte >> 2;
  job.m_hNotifyWnd = &front;
  job.m_pLink = &link;
  job.m_strFilePath = target;
  job.m_nMode = MODE_CHANNELS;
  job.m_nDirection = DIR_TO_COMPUTER;
  job.m_bRunning = 1;
  job.m_bTransferActive = 1;

  Exchange exchange;
  ScriptedReceiver receiver(script, link, clock, job, exchange);
  link.onFrame = [&receiver](const SentFrame& sent) { receiver.React(&sent); };
  link.frameTrace = [&exchange](bool sent, const uint8_t* body, size_t n, int result) {
    if (!sent && result == FRAME_OK) exchange.receivedBodies.emplace_back(body, body + n);
  };
  const uint64_t start = clock.NowMs();
  link.onAdvance = [&](uint64_t now) {
    if (now - start > kRunLimitMs && job.m_bRunning) {
      job.m_bRunning = 0;
      link.CloseLink();
    }
  };
  receiver.React(nullptr);

  const int result = UploadWorker(job);

  Check(front.doneCount == 1, "the worker did not end with exactly one WM_TRANSFER_DONE");
  Check(result == front.doneValue, "the worker's result differs from its end notification");
  Check(front.completeTexts == result, "\"Transfer complete !\" shown without a completed upload");
  if (result == 1) {
    Check(dir.Entries() == std::set<std::string>{"channels.fdu"},
          "a completed upload left other files beside the target");
    Check(front.lastProgress == 100, "a completed upload did not reach 100 percent");
    CheckCompletedFile(exchange, ReadFile(target));
  } else {
    Check(dir.Entries() == entriesBefore, "a failed upload left a file beside the target");
    if (setup == kOldTarget) Check(ReadFile(target) == kOldTargetBytes, "a failed upload changed the target");
  }
  dir.Empty();
  return 0;
}
