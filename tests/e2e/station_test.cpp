// kestal-cli station against several emulators at once: every receiver that asks is served,
// whatever the others do, and every unit that started is in the log, as it ended.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/sim_process.h"

namespace kestal::testing {
namespace {

using Json = nlohmann::json;

std::vector<std::string> Expect(const std::string& file, std::vector<std::string> faults = {},
                                const std::vector<std::string>& download = {}) {
  faults.insert(faults.end(), {"download", "--mode", "software", "--expect", file});
  faults.insert(faults.end(), download.begin(), download.end());
  return faults;
}

// The log's lines, each parsed, by port in the order they were written.
std::map<std::string, std::vector<Json>> UnitsByPort(const std::string& log) {
  std::map<std::string, std::vector<Json>> units;
  const std::vector<uint8_t> bytes = ReadBytes(log);
  std::string text(bytes.begin(), bytes.end());
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    Json unit = Json::parse(text.substr(start, end - start));
    units[unit["port"]].push_back(unit);
  }
  return units;
}

// Computed by another program than the one under test.
std::string Sha256Of(const std::string& path) {
  ChildProcess sum("/usr/bin/sha256sum", {path});
  EXPECT_EQ(sum.Wait(), 0);
  return sum.Output(Stream::Out).substr(0, 64);
}

void ExpectUnit(const Json& unit, const std::string& outcome, const std::string& status,
                const std::string& sha256, uint64_t size) {
  EXPECT_EQ(unit["outcome"], outcome) << unit;
  EXPECT_EQ(unit["status"], status) << unit;
  EXPECT_EQ(unit["sha256"], sha256) << unit;
  EXPECT_EQ(unit["size"], size) << unit;
  const uint64_t bytes = unit["bytes"];
  if (outcome == "completed") {
    EXPECT_EQ(bytes, size) << unit;
  } else {
    EXPECT_LT(bytes, size) << unit;
  }
  EXPECT_LE(unit["start"].get<std::string>(), unit["end"].get<std::string>()) << unit;
  EXPECT_GE(unit["seconds"].get<double>(), 0) << unit;
}

// Each line of stdout one event naming its port; `units` unit events, the outcome last.
void ExpectEvents(const ChildProcess& station, size_t units, int exitStatus) {
  const std::vector<std::string> lines = station.Lines(Stream::Out);
  ASSERT_FALSE(lines.empty());
  size_t unitEvents = 0;
  for (const std::string& line : lines) {
    const Json event = Json::parse(line);
    const std::string phase = event["phase"];
    if (phase == "status" || phase == "progress" || phase == "port" || phase == "unit") {
      EXPECT_FALSE(event["port"].get<std::string>().empty()) << line;
    }
    unitEvents += phase == "unit";
  }
  EXPECT_EQ(unitEvents, units);
  const Json outcome = Json::parse(lines.back());
  EXPECT_EQ(outcome["phase"], "outcome");
  EXPECT_EQ(outcome["exit_status"], exitStatus);
}

// Five receivers on five ports, one more port that is no serial line: two complete, one hangs
// up mid-transfer, one goes silent (its own watchdog ends it), and one comes on a port that
// did not exist when the station started. None holds up another. The next receiver on a port
// whose unit has ended is served too.
TEST(Station, ServesEveryPortWhateverTheOthersDo) {
  Desk desk;
  const std::string file = desk.File("fw.ird");
  WriteBytes(file, TestBytes(100000, 22));
  ChildProcess& first = desk.Add("first", Expect(file));
  ChildProcess& second = desk.Add("second", Expect(file, {}, {"--block-size", "4096"}));
  ChildProcess& hangUp = desk.Add("hangup", Expect(file, {"--hangup-after", "20"}));
  ChildProcess& silent = desk.Add("silent", Expect(file, {"--silence-after", "2"}));
  ChildProcess station(CliPath(),
                       {"station", "--ports", "first,second,hangup,silent,/dev/null,late", "--log",
                        desk.File("units.log"), file},
                       desk.Options());
  ASSERT_TRUE(station.WaitForLine(Stream::Err, "late: Open port failed!", 10s))
      << station.Output(Stream::Err);
  ChildProcess& late = desk.Add("late", Expect(file));
  EXPECT_EQ(first.Wait(), 0) << first.Output(Stream::Err);
  ChildProcess& next = desk.Add("first", Expect(file));
  for (ChildProcess* sim : {&first, &second, &late, &next}) {
    EXPECT_EQ(sim->Wait(), 0) << sim->Output(Stream::Err);
    EXPECT_NE(sim->Output(Stream::Err).find("download ok, 100000 bytes"), std::string::npos);
  }
  EXPECT_EQ(hangUp.Wait(), 0) << hangUp.Output(Stream::Err);
  EXPECT_EQ(silent.Wait(), 0) << silent.Output(Stream::Err);
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(), 1) << station.Output(Stream::Err);  // not every unit completed

  const std::string sha256 = Sha256Of(file);
  const auto units = UnitsByPort(desk.File("units.log"));
  ASSERT_EQ(units.size(), 5u) << station.Output(Stream::Err);
  EXPECT_EQ(units.at("Virtual Port (first)").size(), 2u);
  for (const char* port : {"first", "second", "late"}) {
    for (const Json& unit : units.at("Virtual Port (" + std::string(port) + ")")) {
      ExpectUnit(unit, "completed", "Transfer complete !", sha256, 100000);
      EXPECT_EQ(unit["file"], file);
      EXPECT_EQ(unit["mode"], "software");
    }
  }
  ExpectUnit(units.at("Virtual Port (hangup)").at(0), "failed", "Error : Port disconnected.",
             sha256, 100000);
  ExpectUnit(units.at("Virtual Port (silent)").at(0), "failed", "External Error Occurred!", sha256,
             100000);
  const std::vector<std::string> lines = station.Lines(Stream::Err);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "  /dev/null is not a serial device. Choose another port."),
            lines.end());
  EXPECT_NE(station.Output(Stream::Err)
                .find("Virtual Port (first): Transfer complete ! 100000 "
                      "bytes in "),
            std::string::npos);
  ExpectEvents(station, 6, 1);
}

// --ports auto finds receivers that come after the station started. A file changed on disk is
// said, and every receiver still gets the version the station started with: a channel image
// whose header carries each receiver's own request value.
TEST(Station, FollowsThePortsAndServesTheVersionItStartedWith) {
  Desk desk;
  const std::string file = desk.File("list.fdu");
  const std::vector<uint8_t> original = TestBytes(70000, 5);
  WriteBytes(file, original);
  WriteBytes(desk.File("original.fdu"), original);
  const std::string sha256 = Sha256Of(file);
  ChildProcess station(CliPath(), {"station", "--log", desk.File("units.log"), file},
                       desk.Options());
  ASSERT_TRUE(station.WaitForLine(Stream::Err, "Serving " + file + ": Channels", 10s));
  WriteBytes(file, TestBytes(70000, 6));
  ASSERT_TRUE(station.WaitForLine(
      Stream::Err,
      file + " has changed on disk (SHA-256 now " + Sha256Of(file) +
          "); the station goes on serving the version it started with (SHA-256 " + sha256 + ")",
      15s))
      << station.Output(Stream::Err);
  const std::vector<std::string> channels = {"download", "--mode", "channels", "--expect",
                                             desk.File("original.fdu")};
  std::vector<std::string> first = {"--request-value", "0x11111111"};
  std::vector<std::string> second = {"--request-value", "0x8badf00d"};
  first.insert(first.end(), channels.begin(), channels.end());
  second.insert(second.end(), channels.begin(), channels.end());
  second.insert(second.end(), {"--block-size", "777"});
  for (ChildProcess* sim : {&desk.Add("a", first), &desk.Add("b", second)}) {
    EXPECT_EQ(sim->Wait(), 0) << sim->Output(Stream::Err);
  }
  EXPECT_TRUE(station.WaitForLine(Stream::Err, "Virtual Port (b): gone.", 10s));
  station.Signal(SIGTERM);
  EXPECT_EQ(station.Wait(), 0) << station.Output(Stream::Err);
  const auto units = UnitsByPort(desk.File("units.log"));
  ASSERT_EQ(units.size(), 2u);
  for (const auto& [port, lines] : units) {
    const Json& unit = lines.at(0);
    EXPECT_EQ(unit["outcome"], "completed") << unit;
    EXPECT_EQ(unit["sha256"], sha256) << unit;
    EXPECT_EQ(unit["mode"], "channels") << unit;
  }
}

// A log that cannot be written stops the station before another receiver is served; the unit
// it could not record is on stderr.
TEST(Station, StopsBeforeAUnitWouldGoUnrecorded) {
  Desk desk;
  const std::string file = desk.File("fw.ird");
  WriteBytes(file, TestBytes(3000, 7));
  ChildProcess& quick = desk.Add("quick", Expect(file));
  ChildProcess& later = desk.Add("later", Expect(file, {"--idle-before-request", "20000"}));
  ChildProcess station(CliPath(), {"station", "--ports", "quick,later", "--log", "/dev/full", file},
                       desk.Options());
  EXPECT_EQ(station.Wait(), 1) << station.Output(Stream::Err);
  const std::string err = station.Output(Stream::Err);
  EXPECT_NE(err.find("Cannot write the log /dev/full: No space left on device."), std::string::npos)
      << err;
  EXPECT_NE(err.find("Not in the log: {\"start\":"), std::string::npos) << err;
  EXPECT_NE(err.find("\"port\":\"Virtual Port (quick)\""), std::string::npos) << err;
  EXPECT_EQ(quick.Wait(), 0) << quick.Output(Stream::Err);
  EXPECT_EQ(later.Wait(), 1);
  EXPECT_NE(later.Output(Stream::Err).find("the tool closed the port before the request"),
            std::string::npos)
      << later.Output(Stream::Err);
}

// Ctrl-C mid-transfer ends the unit as stopped, never as done. On a terminal the ports are a
// table redrawn in place.
TEST(Station, InterruptStopsTheUnitUnderWay) {
  Desk desk;
  const std::string file = desk.File("fw.ird");
  WriteBytes(file, TestBytes(50000, 8));
  ChildProcess& slow =
      desk.Add("slow", Expect(file, {"--baud", "9600", "--trace"}, {"--block-size", "64"}));
  int master = -1, terminal = -1;
  winsize size{30, 120, 0, 0};
  ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, &size), 0);
  const std::string device = ttyname(terminal);
  const std::string redraw = "\033[A\r\033[J";  // the table taken down to be drawn again
  std::string screen;
  std::atomic<bool> reading = true, redrawn = false;
  std::thread reader([&] {
    fcntl(master, F_SETFL, O_NONBLOCK);
    char buffer[4096];
    // One more read once told to stop: the station's last lines are written by then.
    for (bool last = false; !last; std::this_thread::sleep_for(5ms)) {
      last = !reading;
      for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) screen.append(buffer, n);
      if (screen.find(redraw) != std::string::npos) redrawn = true;
    }
  });
  ChildProcess station("/bin/sh",
                       {"-c", "exec \"$0\" \"$@\" 2>" + device, CliPath(), "station", "--ports",
                        "slow", "--log", desk.File("units.log"), file},
                       desk.Options());
  EXPECT_TRUE(slow.WaitForLine(Stream::Err, "< CMD_BLOCK_DATA", 10s));
  for (auto until = std::chrono::steady_clock::now() + 10s;
       !redrawn && std::chrono::steady_clock::now() < until;) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(redrawn);
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(), 1);
  reading = false;
  reader.join();
  close(master);
  close(terminal);
  EXPECT_EQ(slow.Wait(), 1);
  EXPECT_NE(slow.Output(Stream::Err).find("the tool closed the port while asked"),
            std::string::npos);
  const auto units = UnitsByPort(desk.File("units.log"));
  ASSERT_EQ(units.size(), 1u);
  ExpectUnit(units.begin()->second.at(0), "stopped", "Interrupted by user!", Sha256Of(file), 50000);
  EXPECT_NE(screen.find("Port                      State"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Virtual Port (slow)       serving"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Station ended. 1 unit: 0 completed, 1 failed or stopped."),
            std::string::npos);
  EXPECT_TRUE(station.Output(Stream::Out).empty());
}

TEST(Station, RefusesToStartWithoutItsFileOrItsLog) {
  ScratchDir dir;
  WriteBytes(dir.File("fw.ird"), TestBytes(100, 9));
  WriteBytes(dir.File("empty.ird"), {});
  const struct {
    std::vector<std::string> args;
    int exit;
    std::string says;
  } cases[] = {
      {{dir.File("missing.ird")}, 1, "Error : File open error.\nCannot read "},
      {{dir.File("empty.ird")},
       1,
       "Error : File open error.\n" + dir.File("empty.ird") + " is empty."},
      {{"--log", dir.File("no/such/folder.log"), dir.File("fw.ird")},
       1,
       "Cannot write the log: cannot open " + dir.File("no/such/folder.log")},
      {{"--log", dir.File("fw.ird"), dir.File("fw.ird")}, 2, "it is the file being served"},
      {{"--ports", ",", dir.File("fw.ird")}, 2, "--ports names no port"},
  };
  for (const auto& [args, exit, says] : cases) {
    std::vector<std::string> all{"station"};
    all.insert(all.end(), args.begin(), args.end());
    ChildProcess station(CliPath(), all);
    EXPECT_EQ(station.Wait(), exit) << says;
    EXPECT_NE(station.Output(Stream::Err).find(says), std::string::npos)
        << station.Output(Stream::Err);
  }
  EXPECT_EQ(ReadBytes(dir.File("fw.ird")), TestBytes(100, 9));
}

}  // namespace
}  // namespace kestal::testing
