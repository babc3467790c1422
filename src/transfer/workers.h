#pragma once
// The two transfer workers. Each runs on its own thread with the job as its only argument,
// talks to the receiver through job.m_pLink and to the front end through job.m_hNotifyWnd.
// Each returns after its closing notifications: 1 for a completed transfer, 0 otherwise.
#include "transfer/transfer_job.h"

namespace kestal {

// Sends job.m_strFilePath to the receiver: raw in MODE_SOFTWARE, as a ChannelImage in
// MODE_CHANNELS.
int DownloadWorker(TransferJob& job);

// Reads the receiver's channel list into job.m_strFilePath. The target is written to a
// temporary file beside it and renamed over it only after the last block.
int UploadWorker(TransferJob& job);

// Blocks of at most this many bytes are asked for by the upload worker.
constexpr int UPLOAD_BLOCK_MAX = 255;
constexpr int UPLOAD_ATTEMPTS = 20;

}  // namespace kestal
