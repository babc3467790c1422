// kestal-cli send against the emulator over a real pseudo-terminal: the emulator asks for the
// data block by block and checks every byte (Channels: it unpacks and checks the image).
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace kestal::e2e {
namespace {

const std::vector<std::string> kCompleted = {"Waiting For Request. Reset SetTop Box.",
                                             "Downloading Processing...", "Transfer complete !"};

struct DownloadCase {
  const char* mode;
  size_t size;
  unsigned blockSize;
};

std::string CaseName(const testing::TestParamInfo<DownloadCase>& info) {
  return std::string(info.param.mode) + "_" + std::to_string(info.param.size) + "_bytes_by_" +
         std::to_string(info.param.blockSize);
}

class Download : public testing::TestWithParam<DownloadCase> {};

TEST_P(Download, EmulatorReceivesTheFileExactly) {
  const DownloadCase& c = GetParam();
  ScratchDir dir;
  const std::string file =
      dir.File(std::string("data.") + (std::string(c.mode) == "channels" ? "fdu" : "ird"));
  WriteBytes(file, TestBytes(c.size, static_cast<uint32_t>(c.size)));

  Sim sim = StartSim({"--timeout", "20", "download", "--mode", c.mode, "--expect", file,
                      "--block-size", std::to_string(c.blockSize)});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"send", "--port", sim.device, file});  // mode from the file name
  const ChildExit cliExit = cli->Wait();
  const ChildExit simExit = sim.process->Wait(10s);

  EXPECT_EQ(cliExit.code, 0) << cli->StderrJoined();
  EXPECT_EQ(simExit.code, 0) << sim.process->StderrJoined();
  EXPECT_EQ(cli->StderrTexts(), kCompleted);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Download,
    testing::Values(DownloadCase{"software", 1, 1024},         // one short block
                    DownloadCase{"software", 1024, 1024},      // block ends exactly at the end
                    DownloadCase{"software", 5000, 1000},      // last block ends at the end
                    DownloadCase{"software", 5001, 1000},      // a one-byte last block
                    DownloadCase{"software", 70000, 4096},     // offsets beyond 16 bits
                    DownloadCase{"channels", 100, 1024},       // image smaller than a block
                    DownloadCase{"channels", 70000, 777},      // three image chunks
                    DownloadCase{"channels", 32762, 100}),     // exactly one full chunk
    CaseName);

TEST(DownloadExamples, SampleChannelListWithTheExplicitMode) {
  Sim sim = StartSim({"download", "--mode", "channels", "--expect", ExamplePath("sample.fdu")});
  ASSERT_FALSE(sim.device.empty());
  // A copy without the .fdu name: only --mode makes it a channel list.
  ScratchDir dir;
  const std::string copy = dir.File("channels.bin");
  WriteBytes(copy, ReadBytes(ExamplePath("sample.fdu")));
  auto cli = StartCli({"send", "--port", sim.device, "--mode", "channels", copy});
  EXPECT_EQ(cli->Wait().code, 0) << cli->StderrJoined();
  EXPECT_EQ(sim.process->Wait(10s).code, 0) << sim.process->StderrJoined();
}

TEST(DownloadErrors, RequestBeyondTheDataStopsWithTheRangeError) {
  ScratchDir dir;
  const std::string file = dir.File("data.ird");
  WriteBytes(file, TestBytes(3000, 1));
  Sim sim = StartSim({"download", "--mode", "software", "--expect", file, "--past-end"});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"send", "--port", sim.device, file});
  EXPECT_EQ(cli->Wait().code, 1);
  EXPECT_EQ(sim.process->Wait(10s).code, 0) << sim.process->StderrJoined();
  const auto texts = cli->StderrTexts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "Error : .....");
}

TEST(DownloadErrors, MissingFileIsReportedAndNothingIsServed) {
  ScratchDir dir;
  Sim sim = StartSim({"--timeout", "5", "download", "--mode", "software", "--size", "100"});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"send", "--port", sim.device, dir.File("absent.ird")});
  EXPECT_EQ(cli->Wait().code, 1);
  EXPECT_EQ(cli->StderrTexts(), (std::vector<std::string>{"Waiting For Request. Reset SetTop Box.",
                                                          "Error : File open error."}));
}

TEST(DownloadErrors, EmptyChannelListFailsAtTheRequest) {
  ScratchDir dir;
  const std::string file = dir.File("empty.fdu");
  WriteBytes(file, {});
  Sim sim = StartSim({"--timeout", "5", "download", "--mode", "channels"});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"send", "--port", sim.device, file});
  EXPECT_EQ(cli->Wait().code, 1);
  const auto texts = cli->StderrTexts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "Error : File open error.");
}

TEST(DownloadErrors, HangUpMidTransferIsReportedWithinASecond) {
  ScratchDir dir;
  const std::string file = dir.File("data.ird");
  WriteBytes(file, TestBytes(60000, 2));
  Sim sim = StartSim(
      {"--hangup-after", "3", "download", "--mode", "software", "--expect", file});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"send", "--port", sim.device, file});
  const ChildExit simExit = sim.process->Wait(10s);
  const ChildExit cliExit = cli->Wait(10s);
  EXPECT_EQ(simExit.code, 0);
  EXPECT_EQ(cliExit.code, 1);
  const auto line = cli->WaitForStderrLine("Error : Port disconnected.", 0ms);
  ASSERT_TRUE(line) << cli->StderrJoined();
  EXPECT_LT(line->at - simExit.at, 1s);
}

TEST(DownloadFaults, NoiseAndBadSumsAreRiddenOut) {
  ScratchDir dir;
  const std::string file = dir.File("data.ird");
  WriteBytes(file, TestBytes(12000, 3));
  // The emulator asks again when a request with a bad sum gets no answer.
  Sim sim = StartSim({"--noise", "24", "--bad-sum-every", "4", "--reply-timeout", "300",
                      "--attempts", "20", "download", "--mode", "software", "--expect", file});
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"send", "--port", sim.device, file});
  EXPECT_EQ(cli->Wait().code, 0) << cli->StderrJoined();
  EXPECT_EQ(sim.process->Wait(10s).code, 0) << sim.process->StderrJoined();
}

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
