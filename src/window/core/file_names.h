#pragma once
// What the window makes of a file name: whether it can be read, its absolute form, and the mode
// its extension belongs to. Names are UTF-8 on every platform.
#include <string>

namespace kestal::window {

// A regular file that opens for reading. Nothing else is opened: a FIFO or a device could block
// the window.
bool FileReadable(const std::string& path);

// `path` made absolute against the current folder, with "." and ".." taken out; unchanged when
// that fails.
std::string AbsolutePath(const std::string& path);

// The mode whose files end in this extension, ignoring case: MODE_SOFTWARE for ".ird",
// MODE_CHANNELS for ".fdu"; -1 for any other.
int ModeOfExtension(const std::string& path);

// The mode a command-line file is sent in: Channels when the name ends in "fdu" or "FDU" (no dot
// needed) or is an ".fdu" file in any case, else Software. A channel list is never sent as
// software because of the case of its name.
int ModeForCommandLine(const std::string& path);

}  // namespace kestal::window
