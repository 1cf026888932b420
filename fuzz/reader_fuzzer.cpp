// Drives every operation of the reader over arbitrary bytes taken as an image
// file, and checks the documented bounds of every result. Buffers carry guard
// bytes: a byte written past a buffer's stated size is a finding.
#include <cstring>
#include <initializer_list>

#include "fuzz/fuzz_support.h"
#include <d88/d88_image.h>

#include "image/d88_layout.h"

namespace {

constexpr std::uint8_t kGuard = 0xA5;
constexpr int kGuardBytes = 32;
constexpr int kMaxRead = 70000;  // above any 16-bit sector length

std::uint8_t buffer[kMaxRead + kGuardBytes];

void fillGuard(int size) { std::memset(buffer + size, kGuard, kGuardBytes); }
bool guardIntact(int size) {
  for (int i = 0; i < kGuardBytes; ++i) {
    if (buffer[size + i] != kGuard) return false;
  }
  return true;
}

void checkList(d88::D88Image& image, int track, int capacity) {
  fillGuard(capacity);
  const int got = image.listSectorIds(track, buffer, capacity);
  FUZZ_CHECK(got >= 0 && got <= capacity && got % 4 == 0);
  FUZZ_CHECK(guardIntact(capacity));
}

void checkRead(d88::D88Image& image, int track, int c, int h, int r, int n, int maxBytes) {
  const int room = maxBytes > 0 ? maxBytes : 0;
  fillGuard(room);
  const int got = image.readSector(track, c, h, r, n, buffer, maxBytes);
  FUZZ_CHECK(got >= 0 && got <= room && got <= 0xFFFF);
  FUZZ_CHECK(guardIntact(room));
}

void checkRun(d88::D88Image& image, int track, int c, int h, int r, int n, int total) {
  const int room = total > 0 ? total : 0;
  fillGuard(room);
  const int got = image.readSectors(track, c, h, r, n, buffer, total);
  FUZZ_CHECK(got >= 0 && got <= room);
  FUZZ_CHECK(guardIntact(room));
  if (n < 0 || n > 23) FUZZ_CHECK(got == 0);
}

void exerciseDisk(d88::D88Image& image) {
  FUZZ_CHECK(image.mediaType() >= 0 && image.mediaType() <= 255);
  FUZZ_CHECK(std::strlen(image.diskName()) <= 16);
  FUZZ_CHECK(image.currentDisk() == -1);

  for (int track = -1; track <= d88::kTrackCount; ++track) {
    for (int capacity : {0, 3, 6, 31}) checkList(image, track, capacity);
    // The identities listed drive the reads, so that they find real sectors.
    std::uint8_t ids[4 * 8];
    const int listed = image.listSectorIds(track, ids, sizeof ids);
    FUZZ_CHECK(listed >= 0 && listed <= static_cast<int>(sizeof ids) && listed % 4 == 0);
    for (int i = 0; i < listed; i += 4) {
      const int c = ids[i], h = ids[i + 1], r = ids[i + 2], n = ids[i + 3];
      checkRead(image, track, c, h, r, n, kMaxRead);
      checkRead(image, track, c, h, r, n, 100);
      checkRead(image, track, c, h, r, n, 0);
      if (i == 0) {
        image.setSectorRange(1, 8);
        checkRun(image, track, c, h, r, n, 1792);
        checkRun(image, track, c, h, r, n & 7, 5000);
        image.setSectorRange(r, r);
        checkRun(image, track, c, h, r, n, kMaxRead);
        image.setSectorRange(1, 16);
        checkRun(image, track, c, h, r, n, 300);
      }
    }
  }
  for (int n : {-1, 24, 255}) checkRun(image, 0, 0, 0, 1, n, 1024);
  checkRun(image, 0, 0, 0, 1, 3, 0);
  checkRun(image, 0, 0, 0, 1, 3, -7);
  checkRead(image, 0, 0, 0, 1, 3, -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  d88::D88Image& image = d88fuzz::openInput(data, size);
  const int disks = image.diskCount();
  FUZZ_CHECK(disks >= 0 && disks <= d88::kMaxDisks);
  FUZZ_CHECK((disks == 0) == (size < static_cast<std::size_t>(d88::kDiskHeaderSize)));
  FUZZ_CHECK(!image.selectDisk(disks));
  FUZZ_CHECK(!image.selectDisk(-1));
  // Disks repeated by a size of 0 are all the same: the first few and the last suffice.
  for (int disk = 0; disk < disks; ++disk) {
    if (disk >= 3 && disk != disks - 1) continue;
    FUZZ_CHECK(image.selectDisk(disk));
    exerciseDisk(image);
  }
  FUZZ_CHECK(image.open(nullptr));
  FUZZ_CHECK(!image.selectDisk(0));
  return 0;
}
