#pragma once
// The two transfer workers. Each runs on its own thread, talks to the receiver through the
// link and to the front end through the notifications, and returns after its closing
// notifications with how the transfer ended.
#include "image/file_maker.h"
#include "transfer/transfer_notify.h"
#include "transfer/transfer_request.h"
#include "transfer/transfer_state.h"

namespace kestal {

class Link;

enum class WorkerOutcome {
  Completed,  // the exchange finished and the data is where it belongs
  Failed,     // an error ended it (its status text has been shown)
  Stopped,    // the user, the watchdog or a closing window ended it
};

// Everything a worker works with; all of it outlives the worker.
struct WorkerContext {
  TransferRequest request;  // a copy: the front end may change its own while the worker runs
  TransferState& state;
  Link& link;
  TransferNotify& notify;
  PackTrace packTrace;
};

// Sends the request's file to the receiver: raw in MODE_SOFTWARE, as a ChannelImage in
// MODE_CHANNELS.
WorkerOutcome DownloadWorker(WorkerContext& context);

// Reads the receiver's channel list into the request's file. The target is written to a
// temporary file beside it and renamed over it only after the last block.
WorkerOutcome UploadWorker(WorkerContext& context);

// Blocks of at most this many bytes are asked for by the upload worker.
constexpr int UPLOAD_BLOCK_MAX = 255;
constexpr int UPLOAD_ATTEMPTS = 20;

}  // namespace kestal
