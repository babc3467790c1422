#pragma once
// Control ids of the main window, shared by the controller and the front ends.
namespace kestal {

constexpr int IDC_START = 1000;      // "Download" / "Upload"
constexpr int IDC_STATUS = 1001;     // status line
constexpr int IDC_PERCENT = 1002;    // percentage label
constexpr int IDC_FILE = 1003;       // "File" button
constexpr int IDC_PROGRESS = 1004;   // progress bar
constexpr int IDC_PATH = 1005;       // file path field
constexpr int IDC_PORT_LABEL = 1006;
constexpr int IDC_TO_RECEIVER = 1007;
constexpr int IDC_PORT = 1009;       // port list
constexpr int IDC_STOP = 1010;
constexpr int IDC_MODE = 1013;       // mode list
constexpr int IDC_TO_COMPUTER = 1014;

}  // namespace kestal
