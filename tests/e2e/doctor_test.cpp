// kestal-cli doctor against emulators, real processes and users, and made-up sysfs, /proc and
// /etc trees: each finding a user must be told, with its advice.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "doctor/doctor.h"
#include "support/sim_process.h"

namespace kestal::testing {
namespace {

namespace fs = std::filesystem;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(Doctor, ListensForTheReceiverAndNamesWhatCameBack) {
  ScratchDir desk;
  const ChildOptions options{{"XDG_RUNTIME_DIR=" + desk.Path().string()}};
  std::vector<std::unique_ptr<ChildProcess>> sims;
  for (const std::vector<std::string>& role :
       {std::vector<std::string>{"--name", "answering", "--request-value", "0x12345678"},
        {"--name", "silent", "--idle-before-request", "60000"},
        {"--name", "otherspeed", "--garbage", "200"}}) {
    std::vector<std::string> args = role;
    args.insert(args.end(), {"download", "--mode", "software", "--size", "9"});
    sims.push_back(std::make_unique<ChildProcess>(SimPath(), args, options));
    ASSERT_TRUE(sims.back()->WaitForLine(Stream::Out, "/", 10s));
  }
  ChildProcess doctor(CliPath(), {"doctor", "--port", "auto", "--listen", "5"}, options);
  EXPECT_EQ(doctor.Wait(), 1);
  const std::string out = doctor.Output(Stream::Out);
  for (const char* line :
       {"Port /dev/pts/", ": Virtual Port (answering)\n",
        "  ok       listen: the receiver answers: ready to transfer (request seq 01, value "
        "0x12345678)\n",
        "  problem  listen: nothing came back within 5 s\n",
        "  problem  listen: 200 bytes came back within 5 s but never formed a frame\n",
        "2 problems, 0 warnings.\n"}) {
    EXPECT_TRUE(Has(out, line)) << line << "\n" << out;
  }
  // Listening asks for the port by name: without one nothing is opened.
  ChildProcess unnamed(CliPath(), {"doctor", "--listen", "1"}, options);
  EXPECT_EQ(unnamed.Wait(), 2);
}

// In process, as the window runs it: an hour's listen to a silent receiver ends once the window
// asks (it closes), rather than hold it open that long.
TEST(Doctor, ListeningEndsWhenStopped) {
  Sim silent({"--trace", "--idle-before-request", "3600000", "download", "--mode", "software",
              "--size", "9"});
  std::stop_source stop;
  std::jthread window([&] {
    silent.Process().WaitForLine(Stream::Err, "wake-up burst", 60s);
    stop.request_stop();
  });
  const doctor::DoctorReport report =
      doctor::RunDoctor({{.devicePath = silent.Device(), .friendlyName = "silent"}},
                        {.listenSeconds = 3600, .stop = stop.get_token()});
  EXPECT_NE(doctor::ReportText(report).find("listen: nothing came back"), std::string::npos);
}

TEST(Doctor, WritesNothingUnaskedAndNamesTheProgramHoldingThePort) {
  {
    Sim untouched({"--timeout", "2", "download", "--mode", "software", "--size", "9"});
    ChildProcess doctor(CliPath(), {"doctor", "--port", kSimPort}, untouched.ToolOptions());
    EXPECT_EQ(doctor.Wait(), 0) << doctor.Output(Stream::Out);
    EXPECT_TRUE(Has(doctor.Output(Stream::Out), "  ok       holders: no other process holds it\n"));
    EXPECT_EQ(untouched.Process().Wait(), 1);
    EXPECT_TRUE(Has(untouched.Process().Output(Stream::Err), "no wake-up burst within 2 s"));
  }
  ScratchDir dir;
  WriteBytes(dir.File("data.ird"), TestBytes(100, 1));
  Sim sim({"--idle-before-request", "60000", "download", "--mode", "software", "--size", "100"});
  ChildProcess holder(CliPath(), {"send", "--port", kSimPort, dir.File("data.ird")},
                      sim.ToolOptions());
  ASSERT_TRUE(holder.WaitForLine(Stream::Err, "Waiting For Request", 10s));
  ChildProcess doctor(CliPath(), {"doctor", "--port", kSimPort}, sim.ToolOptions());
  EXPECT_EQ(doctor.Wait(), 1);
  EXPECT_TRUE(Has(doctor.Output(Stream::Out), "  problem  holders: held by kestal-cli (PID "))
      << doctor.Output(Stream::Out);
  holder.Signal(SIGINT);
  EXPECT_EQ(holder.Wait(), 1);
}

// Run as nobody on a pseudo-terminal given to group dialout: without the group, with the group
// in /etc but not in the session, and with it.
TEST(Doctor, TellsAUserWithoutThePortsGroupWhatToDo) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as nobody";
  const group* dialout = getgrnam("dialout");
  ASSERT_NE(dialout, nullptr);
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
  const std::string device = ptsname(master);
  ASSERT_EQ(chown(device.c_str(), 0, dialout->gr_gid) | chmod(device.c_str(), 0660), 0);
  ScratchDir etc;
  fs::copy_file("/etc/passwd", etc.File("passwd"));
  std::ofstream(etc.File("group")) << "dialout:x:" << dialout->gr_gid << ":daemon,nobody\n";
  chmod(etc.Path().c_str(), 0755);

  const auto doctorAsNobody = [&](const std::string& groups, const std::string& etcDir) {
    auto child = std::make_unique<ChildProcess>(
        "/usr/bin/setpriv",
        std::vector<std::string>{"--reuid=nobody", "--regid=nogroup", groups, CliPath(), "doctor",
                                 "--port", device, "--etc-dir", etcDir});
    child->Wait();
    return child;
  };
  const auto without = doctorAsNobody("--clear-groups", "/etc");
  EXPECT_TRUE(Has(without->Output(Stream::Out),
                  "  problem  access: nobody is not in group dialout (mode 0660, group dialout)\n"
                  "           -> sudo usermod -aG dialout nobody, then log in again\n"))
      << without->Output(Stream::Out);
  const auto notYet = doctorAsNobody("--clear-groups", etc.Path().string());
  EXPECT_TRUE(Has(notYet->Output(Stream::Out),
                  "  problem  access: nobody is in group dialout, but this session is not"))
      << notYet->Output(Stream::Out);
  EXPECT_TRUE(Has(notYet->Output(Stream::Out), "log in again (or run `newgrp dialout`)"));
  const auto granted =
      doctorAsNobody("--groups=" + std::to_string(dialout->gr_gid), etc.Path().string());
  EXPECT_TRUE(Has(granted->Output(Stream::Out), "  ok       access: this user may open it"))
      << granted->Output(Stream::Out);
  close(master);
}

// An FTDI adapter as sysfs shows it, held by a terminal program, on a machine running both
// programs known to grab such adapters.
TEST(Doctor, ReadsTheAdapterAndTheMachineFromTheirTrees) {
  ScratchDir root;
  const fs::path top = root.Path();
  const fs::path usb = top / "devices/pci0/usb1/1-1";
  fs::create_directories(usb / "1-1:1.0/ttyUSB0");
  fs::create_directories(top / "drivers/ftdi_sio");
  fs::create_directories(top / "class/ttyUSB0");
  fs::create_directory_symlink(usb / "1-1:1.0/ttyUSB0", top / "class/ttyUSB0/device");
  fs::create_directory_symlink(top / "drivers/ftdi_sio", usb / "1-1:1.0/ttyUSB0/driver");
  std::ofstream(usb / "1-1:1.0/ttyUSB0/latency_timer") << "16\n";
  std::ofstream(usb / "product") << "FT232R USB UART\n";
  std::ofstream(usb / "idVendor") << "0403\n";
  std::ofstream(usb / "idProduct") << "6001\n";
  std::ofstream(usb / "serial") << "A1B2C3\n";
  fs::create_directories(top / "dev/serial/by-id");
  std::ofstream(top / "dev/ttyUSB0");
  fs::create_symlink(top / "dev/ttyUSB0", top / "dev/serial/by-id/usb-FTDI_A1B2C3-if00-port0");
  for (const auto& [pid, name] :
       {std::pair{"77", "ModemManager"}, {"812", "brltty"}, {"4242", "minicom"}}) {
    fs::create_directories(top / "proc" / pid / "fd");
    std::ofstream(top / "proc" / pid / "comm") << name << "\n";
  }
  fs::create_symlink(top / "dev/ttyUSB0", top / "proc/4242/fd/3");

  ChildProcess doctor(CliPath(), {"doctor", "--sysfs-tty", (top / "class").string(), "--dev-dir",
                                  (top / "dev").string(), "--proc-dir", (top / "proc").string(),
                                  "--virtual-dir", (top / "none").string()});
  EXPECT_EQ(doctor.Wait(), 1);
  const std::string out = doctor.Output(Stream::Out);
  const std::vector<std::string> lines = {
      "Port " + (top / "dev/ttyUSB0").string() + ": FT232R USB UART (ttyUSB0)\n",
      "  driver ftdi_sio, USB 0403:6001, serial A1B2C3, by-id usb-FTDI_A1B2C3-if00-port0\n",
      "  problem  holders: held by minicom (PID 4242)\n",
      "  warning  latency: latency timer 16 ms: the adapter may hold",
      "  warning  modem manager: running: ModemManager (PID 77)\n",
      "           -> it probes new USB serial ports",
      "  warning  braille daemon: running: brltty (PID 812)\n",
      "1 problem, 3 warnings.\n"};
  for (const std::string& line : lines) {
    EXPECT_TRUE(Has(out, line)) << line << "\n" << out;
  }
}

}  // namespace
}  // namespace kestal::testing
