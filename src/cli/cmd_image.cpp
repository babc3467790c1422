// kestal-cli pack / inspect: build a ChannelImage from a channel list, and check one.
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "common/printable.h"
#include "common/utf8_path.h"
#include "image/file_maker.h"
#include "image/image_reader.h"
#include "transfer/file_access.h"
#include "transfer/file_pack_source.h"
#include "transfer/input_check.h"
#include "transfer/staged_file.h"

namespace kestal::cli {

std::optional<uint32_t> ParseRequestValue(const std::string& text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* first = text.data() + (hex ? 2 : 0);
  const char* last = text.data() + text.size();
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(first, last, value, hex ? 16 : 10);
  if (first == last || error != std::errc{} || end != last) return std::nullopt;
  return value;
}

namespace {

void Fail(const std::string& message) {
  std::fprintf(stderr, "kestal-cli: %s\n", Printable(message).c_str());
}

using ByteWriter = std::function<bool(const uint8_t* data, size_t size)>;

// Written beside `path` and renamed over it once complete: a full disk, a size limit or a stop
// keeps what `path` held. `fill` writes through the writer it is given.
bool WriteAtomically(const std::string& path,
                     const std::function<bool(const ByteWriter& write)>& fill) {
  std::string why;
  if (ResolveReceiveTarget(path, why).empty()) {
    Fail(why);
    return false;
  }
  StagedFile file;
  const bool written =
      file.Open(path) &&
      fill([&file](const uint8_t* data, size_t size) { return file.Write(data, size); }) &&
      file.Commit();
  if (!written) Fail(path + ": cannot be written (disk full or a size limit?)");
  return written;
}

// Why the list at `path` could not be opened, or once `opened`, packed.
std::string DescribePackFailure(const std::string& path, const SourceFile& opened) {
  std::error_code error;
  const auto status = std::filesystem::status(Utf8Path(path), error);
  if (!std::filesystem::exists(status)) return path + ": no such file";
  if (!std::filesystem::is_regular_file(status)) return path + ": not a regular file";
  if (!opened.IsOpen()) return path + ": cannot be opened for reading";
  if (opened.Size() == 0) return path + ": the file is empty";
  return path + ": could not be packed (it changed while it was read, or is too large)";
}

// An image states its size in 32 bits; anything longer is not one, and is not read whole.
bool ReadImageFile(const std::string& path, std::vector<uint8_t>& bytes) {
  SourceFile file;
  if (!file.Open(path) || file.Size() > std::numeric_limits<uint32_t>::max()) return false;
  bytes.resize(static_cast<size_t>(file.Size()));
  for (size_t done = 0; done < bytes.size();) {
    const int64_t got = file.ReadAt(bytes.data() + done, bytes.size() - done, done);
    if (got <= 0) return false;  // shorter than measured
    done += static_cast<size_t>(got);
  }
  return true;
}

void PrintReport(const ImageReport& report) {
  const bool headerRead = report.valid || report.errorOffset >= IMAGE_HEADER_SIZE;
  if (headerRead) {
    std::printf("header: request value 0x%08X, %u blocks\n", report.requestValue,
                report.blockCount);
  }
  for (size_t i = 0; i < report.blocks.size(); ++i) {
    const ImageBlockInfo& b = report.blocks[i];
    std::printf("block %zu: offset %u, length field %u, CRC 0x%04X, chunk length %u, %s\n", i,
                b.offset, b.lengthField, b.crc, b.chunkLength,
                b.compressed ? "compressed" : "stored");
  }
}

// Unpacks a valid image straight into the file, a chunk at a time: a small image of very
// repetitive data can stand for a channel list hundreds of times its size.
bool ExtractChannelList(const std::vector<uint8_t>& image, const std::string& path) {
  return WriteAtomically(path, [&image](const auto& write) {
    bool ok = true;
    InspectImage(image.data(), image.size(),
                 [&](const uint8_t* chunk, size_t length) { ok = ok && write(chunk, length); });
    return ok;
  });
}

}  // namespace

int RunPack(const PackArgs& args) {
  const uint32_t requestValue = ParseRequestValue(args.requestText).value_or(0);
  std::vector<uint8_t> image;
  SourceFile file;
  FilePackSource source(file);
  if (!file.Open(args.file) || PackChannelImage(requestValue, source, image) == 0) {
    Fail(DescribePackFailure(args.file, file));
    return 1;
  }
  if (!WriteAtomically(args.image,
                       [&image](const auto& write) { return write(image.data(), image.size()); })) {
    return 1;
  }
  std::printf("%s: %zu bytes, request value 0x%08X\n", Printable(args.image).c_str(), image.size(),
              requestValue);
  return 0;
}

int RunInspect(const InspectArgs& args) {
  std::vector<uint8_t> bytes;
  if (!ReadImageFile(args.image, bytes)) {
    Fail(args.image + ": cannot be read as an image");
    return 1;
  }
  const ImageReport report = InspectImage(bytes.data(), bytes.size(), false);
  PrintReport(report);
  if (!report.valid) {
    Fail(args.image + ": invalid image: " + report.error);
    return 1;
  }
  if (!args.extractTo.empty() && !ExtractChannelList(bytes, args.extractTo)) return 1;
  return 0;
}

}  // namespace kestal::cli
