// kestal-cli send and receive against the emulator over a real pseudo-terminal. Sending, the
// emulator asks for the data block by block and checks every byte (Channels: it unpacks and
// checks the image); receiving, the target must equal the data the emulator served.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace kestal::e2e {
namespace {

const std::string kWaiting = "Waiting For Request. Reset SetTop Box.";

struct DownloadCase {
  const char* name;
  const char* mode;
  size_t size;
  unsigned blockSize;
  bool explicitMode = false;             // the file's name does not give the mode: --mode does
  std::vector<std::string> simFaults{};  // injected by the emulator
};

void PrintTo(const DownloadCase& c, std::ostream* os) { *os << c.name; }

class Download : public ::testing::TestWithParam<DownloadCase> {};

TEST_P(Download, EmulatorReceivesTheFileExactly) {
  const DownloadCase& c = GetParam();
  const bool channels = std::string(c.mode) == "channels";
  ScratchDir dir;
  const std::string file =
      dir.File(c.explicitMode ? "data.bin" : channels ? "data.fdu" : "data.ird");
  WriteBytes(file, TestBytes(c.size, static_cast<uint32_t>(c.size)));

  std::vector<std::string> simArgs = c.simFaults;
  simArgs.insert(simArgs.end(), {"--timeout", "20", "download", "--mode", c.mode, "--expect",
                                 file, "--block-size", std::to_string(c.blockSize)});
  Sim sim = StartSim(simArgs);
  ASSERT_FALSE(sim.device.empty());
  std::vector<std::string> cliArgs = {"send", "--port", sim.device, file};
  if (c.explicitMode) cliArgs.insert(cliArgs.end() - 1, {"--mode", c.mode});
  auto cli = StartCli(cliArgs);
  const ChildExit cliExit = cli->Wait();
  const ChildExit simExit = sim.process->Wait(10s);

  EXPECT_EQ(cliExit.code, 0) << cli->StderrJoined();
  EXPECT_EQ(simExit.code, 0) << sim.process->StderrJoined();
  EXPECT_EQ(cli->StderrTexts(), (std::vector<std::string>{kWaiting, "Downloading Processing...",
                                                          "Transfer complete !"}));
}

// The emulator asks again when a request with a bad sum got no answer.
const std::vector<std::string> kNoiseAndBadSums = {
    "--noise", "24", "--bad-sum-every", "4", "--reply-timeout", "300", "--attempts", "20"};

INSTANTIATE_TEST_SUITE_P(
    Sizes, Download,
    ::testing::Values(DownloadCase{"OneShortBlock", "software", 1, 1024},
                      DownloadCase{"BlockEndingAtTheEnd", "software", 1024, 1024},
                      DownloadCase{"LastBlockEndingAtTheEnd", "software", 5000, 1000},
                      DownloadCase{"OneByteLastBlock", "software", 5001, 1000},
                      DownloadCase{"OffsetsBeyond16Bits", "software", 70000, 4096},
                      DownloadCase{"NoiseAndBadSumsRiddenOut", "software", 12000, 1024, false,
                                   kNoiseAndBadSums},
                      DownloadCase{"ImageSmallerThanABlock", "channels", 100, 1024},
                      DownloadCase{"ThreeImageChunks", "channels", 70000, 777},
                      DownloadCase{"OneFullChunk", "channels", 32762, 100},
                      DownloadCase{"ChannelsByTheModeOption", "channels", 5000, 1024, true}),
    [](const ::testing::TestParamInfo<DownloadCase>& param) { return param.param.name; });

struct UploadCase {
  size_t size;
  std::vector<std::string> simFaults{};
};

void PrintTo(const UploadCase& c, std::ostream* os) { *os << c.size << " bytes"; }

class Upload : public ::testing::TestWithParam<UploadCase> {};

TEST_P(Upload, TargetFileEqualsTheServedData) {
  const size_t size = GetParam().size;
  ScratchDir dir;
  const std::string served = dir.File("served.fdu");
  const std::string target = dir.File("target.fdu");
  WriteBytes(served, TestBytes(size, static_cast<uint32_t>(size) + 7));

  std::vector<std::string> simArgs = GetParam().simFaults;
  simArgs.insert(simArgs.end(), {"--timeout", "20", "upload", "--serve", served});
  Sim sim = StartSim(simArgs);
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"receive", "--port", sim.device, target});
  EXPECT_EQ(cli->Wait().code, 0) << cli->StderrJoined();
  EXPECT_EQ(sim.process->Wait(10s).code, 0) << sim.process->StderrJoined();
  EXPECT_EQ(cli->StderrTexts(),
            (std::vector<std::string>{kWaiting, "Uploading...", "Transfer complete !"}));
  EXPECT_EQ(ReadBytes(target), ReadBytes(served));
}

// 255 and 256 straddle the block size; 70000 bytes take 275 blocks, so the sequence counter
// wraps past 255 during the exchange. The last case has noise between the emulator's frames.
INSTANTIATE_TEST_SUITE_P(Sizes, Upload,
                         ::testing::Values(UploadCase{1}, UploadCase{255}, UploadCase{256},
                                           UploadCase{1000}, UploadCase{70000},
                                           UploadCase{3000, {"--noise", "40", "--seed", "7"}}));

// A transfer that cannot succeed: exit 1 and the system's error text. (Hang-up, write
// failures and the watchdog have scenarios of their own in test_faults and below.)
struct FailureCase {
  const char* name;
  const char* verb;                // send or receive
  const char* fileName;            // the tool's file, in a scratch directory
  std::optional<size_t> fileSize;  // none: the file does not exist
  std::vector<std::string> simArgs;  // FILE: the tool's file; EMPTY: an empty file
  std::vector<std::string> texts;    // what the tool prints
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class Failure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(Failure, EndsWithItsErrorText) {
  const FailureCase& c = GetParam();
  ScratchDir dir;
  const std::string file = dir.File(c.fileName);
  if (c.fileSize) WriteBytes(file, TestBytes(*c.fileSize, 1));
  std::vector<std::string> simArgs;
  for (const auto& arg : c.simArgs) {
    if (arg == "EMPTY") WriteBytes(dir.File("empty.fdu"), {});
    simArgs.push_back(arg == "FILE" ? file : arg == "EMPTY" ? dir.File("empty.fdu") : arg);
  }
  Sim sim = StartSim(simArgs);
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({c.verb, "--port", sim.device, file});
  EXPECT_EQ(cli->Wait().code, 1);
  EXPECT_EQ(cli->StderrTexts(), c.texts);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Failure,
    ::testing::Values(
        FailureCase{"RequestBeyondTheData", "send", "data.ird", 3000,
                    {"download", "--mode", "software", "--expect", "FILE", "--past-end"},
                    {kWaiting, "Downloading Processing...", "Error : ....."}},
        FailureCase{"MissingFile", "send", "absent.ird", std::nullopt,
                    {"--timeout", "5", "download", "--mode", "software", "--size", "100"},
                    {kWaiting, "Error : File open error."}},
        FailureCase{"EmptyChannelList", "send", "empty.fdu", 0,
                    {"--timeout", "5", "download", "--mode", "channels"},
                    {kWaiting, "Downloading Processing...", "Error : File open error."}},
        FailureCase{"EmptyDataSet", "receive", "target.fdu", std::nullopt,
                    {"--timeout", "5", "upload", "--serve", "EMPTY"},
                    {kWaiting, "Uploading...", "Communication error."}}),
    [](const ::testing::TestParamInfo<FailureCase>& param) { return param.param.name; });

TEST(DownloadFaults, BlockRequestBeforeTheRequestIsNotAnswered) {
  ScratchDir dir;
  const std::string file = dir.File("data.ird");
  WriteBytes(file, TestBytes(4000, 4));
  Sim sim = StartSim({"--block-request-before-request", "download", "--mode", "software",
                      "--expect", file});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"send", "--port", sim.device, "--trace", file});
  EXPECT_EQ(cli->Wait().code, 0) << cli->StderrJoined();
  // The emulator fails if the early block request was answered.
  EXPECT_EQ(sim.process->Wait(10s).code, 0) << sim.process->StderrJoined();
  // The first frame the tool sent is the acceptance of the request, not block data.
  for (const auto& text : cli->StderrTexts()) {
    if (text.rfind("> ", 0) == 0) {
      EXPECT_EQ(text.rfind("> CMD_ACCEPT_DOWNLOAD", 0), 0u) << text;
      break;
    }
  }
}

TEST(DownloadWatchdog, SilenceAfterTheFirstBlocksTripsTheWatchdogInTime) {
  ScratchDir dir;
  const std::string file = dir.File("data.ird");
  WriteBytes(file, TestBytes(50000, 5));
  Sim sim = StartSim({"--silence-after", "2", "download", "--mode", "software", "--expect",
                      file});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"send", "--port", sim.device, "--trace", file});
  const ChildExit cliExit = cli->Wait(20s);
  EXPECT_EQ(cliExit.code, 1);
  EXPECT_EQ(sim.process->Wait(10s).code, 0) << sim.process->StderrJoined();

  SteadyTime lastRequest{};
  std::optional<SteadyTime> tripped;
  bool completeShown = false;
  for (const auto& line : cli->StderrLines()) {
    if (line.text.rfind("< CMD_BLOCK_REQUEST", 0) == 0) lastRequest = line.at;
    if (line.text == "External Error Occurred!") tripped = line.at;
    if (line.text == "Transfer complete !") completeShown = true;
  }
  ASSERT_TRUE(tripped) << cli->StderrJoined();
  EXPECT_FALSE(completeShown);
  if (!kSanitized) {
    const auto silence = *tripped - lastRequest;
    EXPECT_GE(silence, 4700ms);
    EXPECT_LE(silence, 6600ms);
  }
}

}  // namespace
}  // namespace kestal::e2e
