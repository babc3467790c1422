#include <pthread.h>
#include <signal.h>

#include "cli/signal_mask.h"

namespace kestal::cli {

void BlockSignalsInThisThread() {
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
}

}  // namespace kestal::cli
