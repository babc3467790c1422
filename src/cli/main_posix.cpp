#include "cli/commands.h"

int main(int argc, char** argv) { return kestal::cli::RunCommandLine(argc, argv); }
