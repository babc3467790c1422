#include "cli/commands.h"
#include "common/std_streams.h"

int main(int argc, char** argv) {
  kestal::OpenMissingStdStreams();
  return kestal::cli::RunCommandLine(argc, argv);
}
