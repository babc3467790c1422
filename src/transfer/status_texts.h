#pragma once
// The status line's texts, as the workers and the controller show them.
namespace kestal::text {

constexpr const char* kDownloading = "Downloading Processing...";
constexpr const char* kUploading = "Uploading...";
constexpr const char* kComplete = "Transfer complete !";
constexpr const char* kFileOpenError = "Error : File open error.";
constexpr const char* kFileSizeOver = "Error : File size is over.";
constexpr const char* kPackagingError = "Error : Packaging error.";
constexpr const char* kOutOfRange = "Error : .....";
constexpr const char* kReadingFail = "Error : Reading fail.";
constexpr const char* kFinishedUnasked = "Error : The receiver finished without asking for data.";
constexpr const char* kPortDisconnected = "Error : Port disconnected.";
constexpr const char* kCommunicationError = "Communication error.";
constexpr const char* kWritingError = "Writing error %d";
constexpr const char* kSelectFile = "Please Select File !";
constexpr const char* kOpenPortFailed = "Open port failed!";
constexpr const char* kWaiting = "Waiting For Request. Reset SetTop Box.";
constexpr const char* kExternalError = "External Error Occurred!";
constexpr const char* kInterrupted = "Interrupted by user!";
constexpr const char* kIdle = "Kestal Vantro Manager.";
// The project's own: a large channel list takes a while to pack, before the receiver is woken.
constexpr const char* kPacking = "Packing the channel list...";

}  // namespace kestal::text
