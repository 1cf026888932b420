// d88cmp's comparison on arbitrary bytes taken as two image files: the first
// 4 bytes (little-endian) give A's length, A follows, B is the rest. Each
// disk's counts must add up, a disk must compare the same with itself, a
// comparison must say "same" exactly when the two disks' content
// fingerprints are equal, and the whole report, text or JSON, must come out
// as valid UTF-8.
#include <algorithm>
#include <cstdio>
#include <string>

#include "compare_images.h"
#include "console.h"
#include "content_fingerprint.h"
#include "disk_compare.h"
#include "fuzz_support.h"

namespace {

// A is the file openInput() writes; B is written beside it, in the scratch
// folder that fuzz_support makes the current directory.
constexpr const char* kImageA = d88fuzz::kInputName;
constexpr const char kImageB[] = "input-b.d88";

void writeInput(const char* name, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(name, "wb");
  if (f == nullptr) std::abort();
  const bool whole = size == 0 || std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !whole) std::abort();
}

// Compares disk k of both, and checks what must hold of the result.
void checkDisk(d88::Image& a, d88::Image& b, int k, bool self) {
  d88::DiskComparison disk;
  d88::CompareFailure failure;
  int differences = 0;
  const d88::SectorSink count = [&differences](const d88::SectorComparison& s) {
    FUZZ_CHECK(s.kind != d88::SectorKind::kSame);
    FUZZ_CHECK(s.inA || s.inB);
    ++differences;
    return true;
  };
  // A shared track stands for the sectors of the track it shares that are
  // not the same.
  const d88::SharedTrackSink countShared = [&differences](const d88::SharedTrack& s) {
    FUZZ_CHECK(s.sameAs >= 0 && s.sameAs < s.track);
    int sectors = 0;
    for (int n : s.counts) sectors += n;
    const int notSame = sectors - s.counts[static_cast<std::size_t>(d88::SectorKind::kSame)];
    FUZZ_CHECK(notSame > 0);
    differences += notSame;
    return true;
  };
  if (!d88::compareDisk(a, b, k, count, countShared, &disk, &failure)) {
    FUZZ_CHECK(failure.side == 'A' || failure.side == 'B');
    return;
  }
  int counted = 0;
  for (int n : disk.counts) counted += n;
  if (disk.inA && disk.inB) {
    FUZZ_CHECK(counted == disk.sectors);
    FUZZ_CHECK(differences == disk.sectors - disk.count(d88::SectorKind::kSame));
  }
  if (self) FUZZ_CHECK(disk.same());
  if (!disk.inA || !disk.inB) return;
  d88::Sha256Digest digestA{};
  d88::Sha256Digest digestB{};
  if (d88::contentSha256(a, k, &digestA).ok() && d88::contentSha256(b, k, &digestB).ok()) {
    FUZZ_CHECK(disk.same() == (digestA == digestB));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::size_t lengthA = static_cast<std::size_t>(data[0]) | static_cast<std::size_t>(data[1]) << 8 |
                        static_cast<std::size_t>(data[2]) << 16 |
                        static_cast<std::size_t>(data[3]) << 24;
  if (lengthA > size - 4) lengthA = size - 4;
  writeInput(kImageB, data + 4 + lengthA, size - 4 - lengthA);
  d88::Image& a = d88fuzz::openInput(data + 4, lengthA).image();
  static d88::Image b;
  // Any file opens, unless it is plainly no D88 image.
  const auto opens = [](const char* path, d88::Image* image) {
    const d88::Status s = d88::Image::open(path, image);
    FUZZ_CHECK(s.ok() || s.code() == d88::Status::Code::kNotD88Image);
    return s.ok();
  };
  opens(kImageB, &b);
  const std::size_t disks = std::max(a.disks().size(), b.disks().size());
  for (std::size_t k = 0; k < disks; ++k) checkDisk(a, b, static_cast<int>(k), false);
  if (opens(kImageA, &a)) {
    FUZZ_CHECK(opens(kImageA, &b));
    for (std::size_t k = 0; k < a.disks().size(); ++k) checkDisk(a, b, static_cast<int>(k), true);
  }

  for (const bool json : {false, true}) {
    std::string report;
    const d88::ListingSink keep = [&report](const std::string& piece) {
      report += piece;
      return true;
    };
    std::string error;
    const int status = d88::compareImages(kImageA, kImageB, json, &keep, &error);
    FUZZ_CHECK(status >= 0 && status <= 2);
    FUZZ_CHECK(d88::isValidUtf8(report));
  }
  return 0;
}
