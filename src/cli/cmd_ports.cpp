// kestal-cli ports: the serial ports the window offers, in the window's order.
#include <iostream>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "ports/port_discovery.h"

namespace kestal::cli {
namespace {

int ListPorts(const DiscoveryRoots& roots) {
  PortList ports;
  try {
    EnumeratePorts(ports, roots);
  } catch (const std::string& message) {
    std::cerr << message << '\n';
    return 1;
  }
  for (const PortInfo& port : ports) {
    std::cout << port.m_strFriendlyName << '\t' << port.m_strDevicePath << '\n';
  }
  return 0;
}

}  // namespace

void AddPortsCommand(CLI::App& app, int& exitCode) {
  CLI::App* command =
      app.add_subcommand("ports", "List serial ports: friendly name, a tab, the device path");
  // Shared with the callback, which runs after parsing, when this function has long returned.
  auto roots = std::make_shared<DiscoveryRoots>();
  command->add_option("--sysfs-tty", roots->sysClassTty, "sysfs tty class directory")
      ->capture_default_str();
  command->add_option("--dev-dir", roots->devDir, "device node directory")->capture_default_str();
  command->add_option("--virtual-dir", roots->virtualPortDir,
                      "virtual port directory (default: the per-user one)");
  command->callback([roots, &exitCode] { exitCode = ListPorts(*roots); });
}

}  // namespace kestal::cli
