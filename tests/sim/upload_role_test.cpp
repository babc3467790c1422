// The virtual receiver serving a data set to a tool that reads it, played on a scripted link.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "link/frame_codec.h"
#include "scripted_tool.h"

namespace kestal::sim::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<uint8_t> SizeQuery(uint16_t type) { return {static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(type)}; }

std::vector<uint8_t> BlockRequest(uint16_t length, uint32_t offset) {
  std::vector<uint8_t> payload(6);
  PutBE16(payload.data(), length);
  PutBE32(payload.data() + 2, offset);
  return payload;
}

// Reads the served data the way the reading tool does: size, then blocks of at most 255.
class ReadingTool {
 public:
  explicit ReadingTool(ScriptedLink& link) : m_link(link) {
    m_link.onFrame = [this](const SentFrame& f) { Handle(f); };
  }

  std::vector<SentFrame> received;
  std::vector<uint8_t> data;
  uint32_t size = 0;
  bool finishAtEnd = true;
  uint16_t queryType = DATA_TYPE_CHANNELS;

 private:
  void Send(uint8_t command, const std::vector<uint8_t>& payload) {
    m_link.Deliver(WireFrame(++m_sequence, command, payload));
  }
  void AskNext() {
    if (data.size() < size) {
      Send(CMD_BLOCK_REQUEST,
           BlockRequest(static_cast<uint16_t>(std::min<size_t>(255, size - data.size())),
                        static_cast<uint32_t>(data.size())));
    } else if (finishAtEnd) {
      Send(CMD_FINISH, {});
    }
  }
  void Handle(const SentFrame& f) {
    received.push_back(f);
    if (f.command == CMD_REQUEST) {
      m_sequence = f.sequence;
      m_link.Deliver(WireFrame(f.sequence, CMD_ACCEPT_UPLOAD, {}));
      Send(CMD_SIZE_QUERY, SizeQuery(queryType));
    } else if (f.command == CMD_SIZE_REPLY && f.sequence == m_sequence) {
      size = GetBE32(f.payload.data());
      AskNext();
    } else if (f.command == CMD_BLOCK_DATA && f.sequence == m_sequence) {
      data.insert(data.end(), f.payload.begin(), f.payload.end());
      AskNext();
    }
  }

  ScriptedLink& m_link;
  uint8_t m_sequence = 0;
};

class Upload : public ::testing::Test {
 protected:
  Upload() {
    run.options.servePath = run.dir.File("served.fdu");
    WriteBytes(run.options.servePath, served);
  }
  RoleRun run;
  std::vector<uint8_t> served = TestBytes(1000, 11);
};

TEST_F(Upload, ServesTheFileWithItsSizeAndEveryBlockUnderTheQuestionsSequences) {
  ReadingTool tool(run.link);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Upload(), 0) << run.log.str();
  EXPECT_EQ(tool.size, served.size());
  EXPECT_EQ(tool.data, served);
  EXPECT_THAT(run.log.str(), HasSubstr("upload ok, served 1000 of 1000 bytes in 4 blocks"));
  ASSERT_GE(tool.received.size(), 2u);
  const uint8_t requestSequence = tool.received[0].sequence;
  EXPECT_EQ(tool.received[1].command, CMD_SIZE_REPLY);
  EXPECT_EQ(tool.received[1].sequence, static_cast<uint8_t>(requestSequence + 1));
  EXPECT_THAT(tool.received[1].payload, ElementsAre(0, 0, 0x03, 0xE8));
}

TEST_F(Upload, SizeQueryForAnotherDataTypeIsAnsweredWithZero) {
  ReadingTool tool(run.link);
  tool.queryType = 5;
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Upload(), 0);
  EXPECT_EQ(tool.size, 0u);
  EXPECT_TRUE(tool.data.empty());
}

TEST_F(Upload, BlockRequestPastTheEndIsAFault) {
  ReadingTool tool(run.link);
  run.link.onFrame = [&](const SentFrame& f) {
    if (f.command == CMD_REQUEST) {
      run.link.Deliver(WireFrame(f.sequence, CMD_ACCEPT_UPLOAD, {}));
      run.link.Deliver(WireFrame(f.sequence + 1, CMD_BLOCK_REQUEST, BlockRequest(255, 800)));
    }
  };
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Upload(), 1);
  EXPECT_THAT(run.log.str(), HasSubstr("past the end"));
}

TEST_F(Upload, ToolThatFallsSilentIsAFaultAfterTheTimeout) {
  ReadingTool tool(run.link);
  tool.finishAtEnd = false;
  run.link.Deliver(Burst());
  const uint64_t start = run.clock.NowMs();

  EXPECT_EQ(run.Upload(), 1);
  EXPECT_GE(run.clock.NowMs() - start, run.options.timeoutMs);
  EXPECT_EQ(tool.data, served);
}

TEST_F(Upload, ToolThatClosesThePortBeforeFinishingIsAFault) {
  ReadingTool tool(run.link);
  tool.finishAtEnd = false;
  run.link.onAdvance = [&](uint64_t) { run.link.HangUp(); };
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Upload(), 1);
  EXPECT_THAT(run.log.str(), HasSubstr("closed the port"));
}

TEST_F(Upload, HangUpAfterBlocksLeavesTheNextRequestUnanswered) {
  run.options.hangupAfterBlocks = 2;
  ReadingTool tool(run.link);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Upload(), 0);
  EXPECT_EQ(tool.data.size(), 2u * 255u);
  EXPECT_FALSE(run.link.IsOpen());
}

}  // namespace
}  // namespace kestal::sim::testing
