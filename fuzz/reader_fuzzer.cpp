// Drives every operation of the reader over arbitrary bytes taken as an image
// file, and checks the documented bounds of every result. Buffers carry guard
// bytes: a byte written past a buffer's stated size is a finding.
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "fuzz_support.h"
#include <d88/d88_image.h>

#include "d88_layout.h"

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

// The salvage read of a run: one outcome per sector, each within its slot,
// the slots back to back, nothing written past the run.
void checkSalvage(d88::D88Image& image, int track, int c, int h, int r, int n, int total) {
  const int room = total > 0 ? total : 0;
  fillGuard(room);
  const std::vector<d88::SectorOutcome> outcomes = image.readRun({track, c, h, r, n}, {1, 8}, buffer, total);
  FUZZ_CHECK(guardIntact(room));
  if (n < 0 || n > 23 || total <= 0) {
    FUZZ_CHECK(outcomes.empty());
    return;
  }
  const int sector = 128 << n;
  FUZZ_CHECK(outcomes.size() == static_cast<std::size_t>((total + sector - 1) / sector));
  int next = 0;
  for (const d88::SectorOutcome& o : outcomes) {
    FUZZ_CHECK(o.slotOffset == next && o.slotBytes > 0 && o.slotBytes <= sector);
    FUZZ_CHECK(o.bytesRead >= 0 && o.bytesRead <= o.slotBytes);
    FUZZ_CHECK(o.found || o.bytesRead == 0);
    next += o.slotBytes;
  }
  FUZZ_CHECK(next == total);
}

// Every record of a track lies inside the selected disk, the walk is
// bounded, and the listing of identities is the same walk (which goes on
// past a record count of 0).
void checkRecords(d88::D88Image& image, int track) {
  const d88::TrackWalk walk = image.walkTrack(track);
  const std::vector<d88::SectorRecord>& records = walk.records;
  FUZZ_CHECK(records.size() <= static_cast<std::size_t>(d88::kMaxTrackRecords));
  FUZZ_CHECK(image.trackRecords(track).size() == records.size());
  std::uint8_t ids[4 * 64];
  const int listed = image.listSectorIds(track, ids, sizeof ids);
  const std::size_t shown = 4 * std::min<std::size_t>(records.size(), 64);
  if (walk.end == d88::TrackEnd::kZeroCount) {
    FUZZ_CHECK(static_cast<std::size_t>(listed) >= shown);
  } else {
    FUZZ_CHECK(static_cast<std::size_t>(listed) == shown);
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    const d88::SectorRecord& record = records[i];
    FUZZ_CHECK(record.headerOffset >= image.diskOffset());
    FUZZ_CHECK(record.headerOffset + d88::kSectorHeaderSize + record.dataAvailable <= image.diskEnd());
    FUZZ_CHECK(record.dataAvailable >= 0 && record.dataAvailable <= record.dataSize);
    if (i < 64) FUZZ_CHECK(ids[4 * i + 2] == record.id.r);
  }
}

void exerciseDisk(d88::D88Image& image) {
  FUZZ_CHECK(image.mediaType() >= 0 && image.mediaType() <= 255);
  FUZZ_CHECK(std::strlen(image.diskName()) <= 16);
  FUZZ_CHECK(image.currentDisk() == -1);

  for (int track = -1; track <= d88::kTrackCount; ++track) {
    for (int capacity : {0, 3, 6, 31}) checkList(image, track, capacity);
    checkRecords(image, track);
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
        image.setSectorRange(1, 8);
        checkSalvage(image, track, c, h, r, n, 5000);
        checkSalvage(image, track, c, h, r, n & 3, 1792);
      }
    }
  }
  for (int n : {-1, 24, 255}) {
    checkRun(image, 0, 0, 0, 1, n, 1024);
    checkSalvage(image, 0, 0, 0, 1, n, 1024);
  }
  checkSalvage(image, 0, 0, 0, 1, 3, 0);
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
