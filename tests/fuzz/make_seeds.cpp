// Writes the hand-made seed inputs of the fuzz targets into <corpus dir>/<target>/:
//   fuzz_make_seeds tests/fuzz/corpus
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/upload_script.h"
#include "image/file_maker.h"
#include "support/fake_link.h"
#include "transfer/transfer_job.h"

namespace {

namespace fs = std::filesystem;
using namespace kestal;
using namespace kestal::fuzz;
using Bytes = std::vector<uint8_t>;

void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

void WriteSeed(const fs::path& dir, const std::string& name, const Bytes& bytes) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A frame-reader record: delay in 5 ms steps, then a chunk of at most 255 bytes.
void Record(Bytes& input, uint8_t delaySteps, const Bytes& chunk) {
  input.push_back(delaySteps);
  input.push_back(static_cast<uint8_t>(chunk.size()));
  Append(input, chunk);
}

void FrameReaderSeeds(const fs::path& dir) {
  using testing::WireFrame;
  Bytes single = {1};
  Record(single, 0, WireFrame(7, CMD_ACCEPT_DOWNLOAD, {}));
  WriteSeed(dir, "accept", single);

  Bytes mixed = {0};
  Bytes noisy = {0x00, 0x0D, 0x55};
  Append(noisy, WireFrame(0x10, CMD_BLOCK_REQUEST, {0x01, 0x00, 0x00, 0x00, 0x02, 0x00}));
  Record(mixed, 0, noisy);
  Record(mixed, 20, testing::WireFrameBadSum(3, CMD_SIZE_REPLY, {0, 0, 2, 0x58}));
  Record(mixed, 120, WireFrame(0xFF, CMD_BLOCK_DATA, {0xFF}));
  WriteSeed(dir, "noise-bad-sum-quiet", mixed);

  Bytes restart = {1};
  Bytes twice = {'Q', 'z'};
  Append(twice, WireFrame(1, CMD_REQUEST, {0, 0, 0, 9}));
  Record(restart, 0, twice);
  WriteSeed(dir, "repeated-start", restart);

  // A body whose tail comes after its 1000 ms, then a 255-byte payload split in two.
  Bytes slow = {1};
  const Bytes late = WireFrame(5, CMD_BLOCK_DATA, Bytes(40, 0xA5));
  Record(slow, 0, Bytes(late.begin(), late.begin() + 20));
  Record(slow, 201, Bytes(late.begin() + 20, late.end()));
  const Bytes big = WireFrame(6, CMD_BLOCK_DATA, Bytes(255, 0x3C));
  Record(slow, 1, Bytes(big.begin(), big.begin() + 200));
  Record(slow, 50, Bytes(big.begin() + 200, big.end()));
  WriteSeed(dir, "slow-body-long-payload", slow);

  // A whole frame, then half of one, and the line hangs up.
  Bytes hangUp = {3};
  Bytes whole = WireFrame(9, CMD_SIZE_REPLY, {0, 0, 1, 0});
  const Bytes half = WireFrame(10, CMD_BLOCK_DATA, Bytes(20, 0x11));
  whole.insert(whole.end(), half.begin(), half.begin() + 15);
  Record(hangUp, 10, whole);
  WriteSeed(dir, "hang-up-mid-body", hangUp);
}

Bytes PackedImage(const fs::path& scratch, const Bytes& file, uint32_t requestValue) {
  const fs::path path = scratch / "channels.txt";
  WriteSeed(scratch, "channels.txt", file);
  Bytes image;
  PackChannelImage(requestValue, path.string(), image, MODE_CHANNELS);
  return image;
}

void ImageSeeds(const fs::path& dir, const fs::path& scratch) {
  std::string text;
  for (int i = 1; i <= 40; ++i) text += "channel " + std::to_string(i) + ";11.954 GHz;H;27500\n";
  WriteSeed(dir, "text-list", PackedImage(scratch, Bytes(text.begin(), text.end()), 0x01020304));
  Bytes noise(300);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = DataSetByte(static_cast<uint32_t>(i));
  WriteSeed(dir, "stored-block", PackedImage(scratch, noise, 7));
  Bytes twoBlocks(IMAGE_CHUNK_MAX + 100, 0x20);
  twoBlocks.back() = 0x0A;
  WriteSeed(dir, "two-blocks", PackedImage(scratch, twoBlocks, 0));
  Bytes cut = PackedImage(scratch, noise, 7);
  cut.resize(cut.size() / 2);
  WriteSeed(dir, "cut-short", cut);
}

Bytes Size(uint32_t size) {
  return {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)};
}

// Request, acceptance, size query and `blocks` right answers, then the finish.
Bytes PlainUpload(TargetSetup setup, uint8_t requestSequence, uint32_t size, int blocks) {
  Bytes script = {setup, kAnswer, requestSequence, kAnswer, kAnswer};
  Append(script, Size(size));
  script.insert(script.end(), static_cast<size_t>(blocks), kAnswer);
  script.push_back(kAnswer);
  return script;
}

void UploadSeeds(const fs::path& dir) {
  WriteSeed(dir, "three-blocks", PlainUpload(kOldTarget, 0x10, 600, 3));
  WriteSeed(dir, "one-block-wrapping", PlainUpload(kNoTarget, 254, 255, 1));

  // Noise before the request; at the size query a corrupted answer, a reply with the wrong
  // sequence and a late right one, so the worker asks again; a split answer for the first
  // block; a reply of the wrong length, then the right one, for the second.
  Bytes rough = {kOldTarget, kRaw, 4, 'Q', 'z', 0, 1, 0, kAnswer, 9, kAnswer, kAnswerBadSum};
  Append(rough, Size(300));
  rough.insert(rough.end(), {kFrame, 1, CMD_SIZE_REPLY, 4});
  Append(rough, Size(300));
  rough.insert(rough.end(), {0, kAnswerLater});
  Append(rough, Size(300));
  rough.insert(rough.end(), {80, kAnswer});
  Append(rough, Size(300));
  rough.insert(rough.end(), {kAnswerSplit, 100, 30, kFrame, 0, CMD_BLOCK_DATA, 10, 0, kSilence,
                             kAnswer, kAnswer});
  WriteSeed(dir, "late-split-and-retried", rough);

  WriteSeed(dir, "stopped-between-blocks",
            PlainUpload(TargetSetup(kOldTarget | StopAtProgress(2)), 1, 1000, 4));
  Bytes stop = PlainUpload(kOldTarget, 1, 1000, 2);
  stop.back() = kStop;
  WriteSeed(dir, "stopped-during-a-block", stop);
  Bytes hangUp = PlainUpload(kNoTarget, 1, 1000, 1);
  hangUp.back() = kHangUp;
  WriteSeed(dir, "hang-up", hangUp);
  WriteSeed(dir, "target-is-directory", PlainUpload(kTargetIsDir, 3, 10, 1));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus dir>\n", argv[0]);
    return 2;
  }
  const fs::path root = argv[1];
  std::string scratch = (fs::temp_directory_path() / "kestal-seeds-XXXXXX").string();
  if (::mkdtemp(scratch.data()) == nullptr) return 1;
  FrameReaderSeeds(root / "fuzz_frame_reader");
  ImageSeeds(root / "fuzz_image_reader", scratch);
  UploadSeeds(root / "fuzz_upload_worker");
  fs::remove_all(scratch);
  return 0;
}
