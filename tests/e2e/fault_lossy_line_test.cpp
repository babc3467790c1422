// About 1% of the frames in each direction lost or damaged, with seeded faults: a transfer either
// completes with byte-identical data or fails with its error text; it never completes with wrong
// data and never hangs.
#include <gtest/gtest.h>

#include <iostream>

#include "e2e/e2e_support.h"
#include "e2e/fault_support.h"

namespace kestal::e2e {
namespace {

// Half a percent lost and half a percent damaged (one byte changed anywhere: sync, header,
// payload or sum), both in the emulator's frames and in those it receives from the tool.
std::vector<std::string> LossyLine(uint32_t seed) {
  return {"--seed", std::to_string(seed), "--reply-timeout", "300", "--attempts", "10",
          "--drop-rate", "0.005", "--garble-rate", "0.005",
          "--in-drop-rate", "0.005", "--in-corrupt-rate", "0.005"};
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool IsErrorText(const std::string& text) {
  return text.rfind("Error : ", 0) == 0 || text == "Communication error." ||
         text == "External Error Occurred!" || text.rfind("Writing error ", 0) == 0;
}

class FaultLossyLine : public ::testing::TestWithParam<uint32_t> {};

TEST_P(FaultLossyLine, OneMegabyteSoftwareDownloadIsExactOrAnError) {
  ScratchDir dir;
  const std::string file = dir.File("image.ird");
  WriteBytes(file, TestBytes(1 << 20, GetParam()));
  Sim sim = StartSim(Join(LossyLine(GetParam()), {"--timeout", "20", "download", "--mode",
                                                  "software", "--expect", file,
                                                  "--block-size", "4096"}));
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"send", "--port", sim.device, file});
  const ChildExit cliExit = cli->Wait(60s);
  const ChildExit simExit = sim.process->Wait(20s);
  const auto texts = cli->StderrTexts();
  ASSERT_FALSE(texts.empty());
  std::cout << "seed " << GetParam() << ": tool exit " << cliExit.code << " [" << texts.back()
            << "], emulator: " << sim.process->StderrJoined() << std::endl;
  ASSERT_NE(cliExit.code, -1) << "the transfer hung";
  if (cliExit.code == 0) {
    // Only the emulator knows what arrived: it compared every byte with the file.
    EXPECT_EQ(simExit.code, 0) << sim.process->StderrJoined();
    EXPECT_EQ(texts.back(), "Transfer complete !");
  } else {
    EXPECT_TRUE(IsErrorText(texts.back())) << cli->StderrJoined();
  }
}

TEST_P(FaultLossyLine, SeventyKilobyteUploadIsExactOrAnErrorWithTheOldTargetKept) {
  ScratchDir dir;
  const std::string served = dir.File("served.fdu");
  const std::string target = dir.File("target.fdu");
  WriteBytes(served, TestBytes(70 * 1024, GetParam()));
  const auto old = TestBytes(500, GetParam() + 100);
  WriteBytes(target, old);
  Sim sim = StartSim(Join(LossyLine(GetParam()), {"--timeout", "20", "upload", "--serve", served}));
  ASSERT_FALSE(sim.device.empty());
  auto cli = StartCli({"receive", "--port", sim.device, target});
  const ChildExit cliExit = cli->Wait(60s);
  const auto texts = cli->StderrTexts();
  ASSERT_FALSE(texts.empty());
  std::cout << "seed " << GetParam() << ": tool exit " << cliExit.code << " [" << texts.back()
            << "]" << std::endl;
  ASSERT_NE(cliExit.code, -1) << "the transfer hung";
  if (cliExit.code == 0) {
    EXPECT_EQ(texts.back(), "Transfer complete !");
    EXPECT_EQ(ReadBytes(target), ReadBytes(served));
  } else {
    EXPECT_TRUE(IsErrorText(texts.back())) << cli->StderrJoined();
    EXPECT_EQ(ReadBytes(target), old);
  }
  EXPECT_EQ(DirectoryEntries(dir.Path().string()),
            (std::vector<std::string>{"served.fdu", "target.fdu"}));
}

INSTANTIATE_TEST_SUITE_P(Seeds, FaultLossyLine, ::testing::Values(1u, 2u, 3u, 4u));

}  // namespace
}  // namespace kestal::e2e
