// Recordings read back: a sound one traced frame by frame, and damaged ones refused by trace and
// replay alike with the line where the damage is, nothing of them played.
#include <gtest/gtest.h>

#include "support/sim_process.h"

namespace kestal::testing {
namespace {

const std::string kHeader =
    R"({"kestal_recording":1,"program":"kestal-cli 1.0","command":"send","mode":"software"})";
const std::string kBurst = R"({"us":600,"out":"0d010d010d0000000000"})";
// Three bytes of noise, then CMD_REQUEST seq 01 with value 0x01020304: sum 01+01+04+0a = 0x10.
const std::string kRequest = R"({"us":900,"in":"aabbcc517a566b0d0101000401020304 10"})";
const std::string kRequestFixed = R"({"us":900,"in":"aabbcc517a566b0d010100040102030410"})";
const std::string kHangUp = R"({"us":400000,"hangup":true})";
const std::string kEnd = R"({"us":500000,"end":"failed","exit_status":1})";

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string Write(const ScratchDir& dir, const std::string& text) {
  WriteBytes(dir.File("session.rec"), std::vector<uint8_t>(text.begin(), text.end()));
  return dir.File("session.rec");
}

TEST(Recording, TraceShowsEachFrameTheStrayBytesAndTheQuietLine) {
  ScratchDir dir;
  ChildProcess trace(CliPath(),
                     {"trace", Write(dir, Lines({kHeader, kBurst, kRequestFixed, kHangUp, kEnd}))});
  EXPECT_EQ(trace.Wait(), 0) << trace.Output(Stream::Err);
  const std::string out = trace.Output(Stream::Out);
  for (const char* line :
       {"    0.000600  >          wake-up burst       10 bytes",
        "    0.000900  <          stray bytes         3 bytes: aa bb cc",
        "    0.000900  <  seq 01  CMD_REQUEST         len 4     sum ok   request value 0x01020304",
        "              -- 0.399 s quiet --", "    0.400000     the port went away",
        "    0.500000     end: failed, exit status 1"}) {
    EXPECT_NE(out.find(std::string(line) + "\n"), std::string::npos) << line << "\n" << out;
  }
}

struct Damage {
  const char* name;
  std::string text;
  std::string message;
  bool partlyShown;  // trace shows what came before the break
};

TEST(Recording, DamagedOnesAreRefusedWithTheirLine) {
  const std::string newer = R"({"kestal_recording":2,"program":"kestal-cli 9.0"})";
  const Damage damages[] = {
      {"newer format", Lines({newer, kBurst, kEnd}),
       "line 1: recording format 2 is newer than this program reads (1)", false},
      {"no recording", Lines({R"({"program":"kestal-cli 1.0"})", kEnd}),
       "line 1: not a kestal recording", false},
      {"bytes not hex", Lines({kHeader, kBurst, kRequest, kEnd}),
       "line 3: bytes that are not hexadecimal", false},
      {"time running back", Lines({kHeader, kRequestFixed, kBurst, kEnd}),
       "line 3: its time lies before the line above", false},
      {"broken off mid-line", Lines({kHeader, kBurst}) + kRequestFixed.substr(0, 20),
       "line 3: the recording breaks off here", true},
      {"no end line", Lines({kHeader, kBurst, kRequestFixed}),
       "line 4: the recording ends without its end line", true},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.name);
    ScratchDir dir;
    const std::string path = Write(dir, damage.text);
    ChildProcess trace(CliPath(), {"trace", path});
    EXPECT_EQ(trace.Wait(), 1);
    EXPECT_NE(trace.Output(Stream::Err).find(path + ": " + damage.message), std::string::npos)
        << trace.Output(Stream::Err);
    EXPECT_EQ(trace.Output(Stream::Out).find("wake-up burst") != std::string::npos,
              damage.partlyShown)
        << trace.Output(Stream::Out);

    ChildProcess replay(SimPath(), {"--replay", path}, {{"XDG_RUNTIME_DIR=" + dir.File("")}});
    EXPECT_EQ(replay.Wait(), 2);
    EXPECT_EQ(replay.Output(Stream::Out), "");  // no port was ever offered
    EXPECT_NE(replay.Output(Stream::Err).find(path + ": " + damage.message), std::string::npos)
        << replay.Output(Stream::Err);
    EXPECT_NE(replay.Output(Stream::Err).find("; nothing replayed"), std::string::npos)
        << replay.Output(Stream::Err);
  }
}

}  // namespace
}  // namespace kestal::testing
