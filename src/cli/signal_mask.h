#pragma once
// Keeps asynchronous signals off a helper thread, so that only the signal watcher sees them.

namespace kestal::cli {

// Blocks every signal in the calling thread. Windows delivers console events on a thread of
// their own, so there it has nothing to do.
void BlockSignalsInThisThread();

}  // namespace kestal::cli
