// The file-system layer on arbitrary bytes taken as an image file: every
// kind tried alone and all in turn, with and without deleted entries. Every
// walk must end, every file's sectors stay within what the disk can hold,
// every file read back come to its size (or what its chain holds), and the
// listing text and JSON be valid UTF-8 with no control character but newlines.
#include <string>
#include <vector>

#include <d88/filesystem.h>

#include "file_text.h"
#include "fuzz_support.h"

namespace {

bool printableUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if ((b < 0x20 && b != '\n') || b == 0x7F) return false;
      ++i;
      continue;
    }
    const std::size_t length = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || (length == 2 && b < 0xC2) || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// What no disk of the track table can exceed: 82 cylinders of two heads,
// 256 records a track.
constexpr std::size_t kMostSectors = 82 * 2 * 256;

void check(d88::FileSystem& files) {
  const d88::Volume& v = files.volume();
  FUZZ_CHECK(files.files().size() <= d88::kMaxFileEntries);
  FUZZ_CHECK(v.freeBytes <= v.totalBytes || v.kind != d88::FileSystemKind::kFat12);
  std::vector<const d88::FileEntry*> all;
  std::vector<std::uint8_t> bytes;
  for (const d88::FileEntry& f : files.files()) {
    all.push_back(&f);
    FUZZ_CHECK(f.sectors.size() <= kMostSectors);
    FUZZ_CHECK(f.missingSectors + f.markedSectors <= f.sectors.size());
    if (f.health == d88::FileHealth::kBrokenChain) FUZZ_CHECK(!f.chainProblem.empty());
    FUZZ_CHECK(files.readFile(f, &bytes).ok());
    std::uint64_t chainBytes = 0;
    for (const d88::FileSector& s : f.sectors) chainBytes += static_cast<std::uint64_t>(d88::sectorBytes(s.address.n));
    // A file whose chain holds is its size; one whose chain breaks (or a
    // deleted one, whose chain was freed) comes only as far as it goes.
    if (f.chainProblem.empty()) {
      FUZZ_CHECK(bytes.size() == f.size || (f.size > v.totalBytes && bytes.size() <= chainBytes));
    } else {
      FUZZ_CHECK(bytes.size() <= chainBytes);
    }
    FUZZ_CHECK(printableUtf8(d88::fileJson(v.kind, f)));
  }
  FUZZ_CHECK(printableUtf8(d88::volumeText(v)));
  FUZZ_CHECK(printableUtf8(d88::filesText(v.kind, all)));
  FUZZ_CHECK(printableUtf8(d88::volumeJson(d88fuzz::kInputName, 0, v)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  d88::Image& image = d88fuzz::openInput(data, size).image();
  if (image.disks().empty() || !image.selectDisk(0).ok()) return 0;
  std::vector<std::string> refusals;
  for (bool deleted : {false, true}) {
    d88::FileSystem found;
    if (d88::FileSystem::open(image, nullptr, deleted, &found, &refusals).ok()) check(found);
  }
  for (d88::FileSystemKind kind : d88::kFileSystemKinds) {
    d88::FileSystem one;
    const d88::Status s = d88::FileSystem::open(image, &kind, true, &one, &refusals);
    FUZZ_CHECK(s.ok() || refusals.size() == 1 || !image.readFailure().ok());
    if (s.ok()) check(one);
  }
  return 0;
}
