#pragma once
// Each group of kestal-cli verbs registers itself on the application. A verb's callback stores
// the process exit status in `exitCode`: 0 success, 1 failure (usage errors are CLI11's, 2).
#include <CLI/CLI.hpp>

namespace kestal::cli {

void AddImageCommands(CLI::App& app, int& exitCode);     // pack, inspect
void AddPortsCommand(CLI::App& app, int& exitCode);      // ports
void AddTransferCommands(CLI::App& app, int& exitCode);  // send, receive

}  // namespace kestal::cli
