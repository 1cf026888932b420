// Drives every operation of the reader over arbitrary bytes taken as an image,
// and checks the documented bounds of every result: Image opened over the
// bytes in memory, and the kept D88Image layer over the same bytes as a file,
// which must agree with it. Buffers carry guard bytes: a byte written past a
// buffer's stated size is a finding.
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "fuzz_support.h"
#include <d88/d88_image.h>
#include <d88/image.h>

#include "d88_layout.h"

namespace {

using d88::Status;

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

// Bytes in memory never fail to be read: a call can say a sector is not
// there or cut off, nothing else.
bool isContentStatus(const Status& s) {
  return s.ok() || s.code() == Status::Code::kNotFound || s.code() == Status::Code::kCorruption;
}

// ---- Image ----------------------------------------------------------------

void checkRead(d88::Image& image, const d88::SectorAddress& at, int maxBytes) {
  const int room = maxBytes > 0 ? maxBytes : 0;
  fillGuard(room);
  std::int32_t got = -1;
  const Status s = image.readSector(at, buffer, maxBytes, &got);
  FUZZ_CHECK(isContentStatus(s));
  FUZZ_CHECK(got >= 0 && got <= room && got <= 0xFFFF);
  FUZZ_CHECK(s.code() != Status::Code::kNotFound || got == 0);
  FUZZ_CHECK(guardIntact(room));
}

// The salvage read of a run: one outcome per sector, each within its slot,
// the slots back to back, nothing written past the run; without a buffer,
// the same outcomes.
void checkSalvage(d88::Image& image, const d88::SectorAddress& at, int total) {
  const int room = total > 0 ? total : 0;
  fillGuard(room);
  const std::vector<d88::SectorOutcome> outcomes = image.readRun(at, {1, 8}, buffer, total);
  FUZZ_CHECK(guardIntact(room));
  if (at.n < 0 || at.n > d88::kMaxSizeCode || total <= 0) {
    FUZZ_CHECK(outcomes.empty());
    return;
  }
  const int sector = 128 << at.n;
  FUZZ_CHECK(outcomes.size() == static_cast<std::size_t>((total + sector - 1) / sector));
  int next = 0;
  for (const d88::SectorOutcome& o : outcomes) {
    FUZZ_CHECK(o.slotOffset == next && o.slotBytes > 0 && o.slotBytes <= sector);
    FUZZ_CHECK(o.bytesRead >= 0 && o.bytesRead <= o.slotBytes);
    FUZZ_CHECK(o.found || o.bytesRead == 0);
    FUZZ_CHECK(isContentStatus(o.status));
    FUZZ_CHECK(o.status.ok() == (o.bytesRead == o.slotBytes));
    next += o.slotBytes;
  }
  FUZZ_CHECK(next == total);
  const std::vector<d88::SectorOutcome> dry = image.readRun(at, {1, 8}, nullptr, total);
  FUZZ_CHECK(dry.size() == outcomes.size());
  for (std::size_t i = 0; i < dry.size(); ++i) FUZZ_CHECK(dry[i].bytesRead == outcomes[i].bytesRead);
}

// Every record of a track lies inside the selected disk, the walk is
// bounded, and each record's data reads as far as the disk holds it.
void checkRecords(d88::Image& image, int track) {
  const d88::Disk& disk = image.disk();
  const d88::TrackWalk walk = image.walkTrack(track);
  FUZZ_CHECK(walk.records.size() <= static_cast<std::size_t>(d88::kMaxTrackRecords));
  FUZZ_CHECK(walk.end != d88::TrackEnd::kReadError);
  for (std::size_t i = 0; i < walk.records.size(); ++i) {
    const d88::SectorRecord& record = walk.records[i];
    FUZZ_CHECK(record.headerOffset >= disk.offset);
    FUZZ_CHECK(record.headerOffset + d88::kSectorHeaderSize + record.dataAvailable <= disk.end);
    FUZZ_CHECK(record.dataAvailable >= 0 && record.dataAvailable <= record.dataSize);
    if (i >= 4) continue;
    std::int32_t got = -1;
    fillGuard(300);
    FUZZ_CHECK(image.readRecord(record, buffer, 300, &got).ok());
    FUZZ_CHECK(got == std::min(record.dataAvailable, 300));
    FUZZ_CHECK(guardIntact(300));
    bool same = false;
    FUZZ_CHECK(image.sameData(record, record, kMaxRead, &same).ok() && same);
    // The twins of a record are the records of its identity, the first
    // being the one a sector read finds.
    const d88::SectorAddress at{track, record.id.c, record.id.h, record.id.r, record.id.n};
    std::vector<d88::SectorRecord> twins;
    FUZZ_CHECK(image.recordsOf(at, &twins).ok());
    FUZZ_CHECK(twins.size() <= walk.records.size());
    for (const d88::SectorRecord& twin : twins) FUZZ_CHECK(d88::sameIdentity(twin.id, record.id));
    checkRead(image, at, kMaxRead);
    checkRead(image, at, 100);
    checkRead(image, at, 0);
    if (i == 0) {
      checkSalvage(image, at, 5000);
      const d88::SectorAddress small{at.track, at.c, at.h, at.r, at.n & 3};
      checkSalvage(image, small, 1792);
    }
  }
}

void exerciseDisk(d88::Image& image, int index) {
  const d88::Disk& disk = image.disk();
  FUZZ_CHECK(image.selectedDisk() == index && disk.index == index);
  FUZZ_CHECK(disk.name.size() <= static_cast<std::size_t>(d88::kNameLength));
  FUZZ_CHECK(disk.offset >= 0 && disk.offset + d88::kDiskHeaderSize <= disk.end);
  FUZZ_CHECK(disk.end <= image.fileSize());
  for (int track = -1; track <= d88::kTrackCount; ++track) checkRecords(image, track);
  for (int n : {-1, 24, 255}) checkSalvage(image, {0, 0, 0, 1, n}, 1024);
  checkSalvage(image, {0, 0, 0, 1, 3}, 0);
  checkRead(image, {0, 0, 0, 1, 3}, -1);
  checkRead(image, {d88::kTrackCount, 0, 0, 1, 3}, 100);
}

// Raw bytes as they stand, no further than the file.
void checkBytes(d88::Image& image, const std::uint8_t* data, std::size_t size) {
  for (std::size_t offset : {std::size_t{0}, size / 3, size > 10 ? size - 10 : 0, size, size + 5}) {
    fillGuard(4096);
    std::size_t got = 1;
    FUZZ_CHECK(image.readBytes(static_cast<std::int64_t>(offset), buffer, 4096, &got).ok());
    FUZZ_CHECK(got == (offset < size ? std::min<std::size_t>(4096, size - offset) : 0));
    FUZZ_CHECK(got == 0 || std::memcmp(buffer, data + offset, got) == 0);
    FUZZ_CHECK(guardIntact(4096));
  }
}

// ---- the kept D88Image layer ----------------------------------------------

void checkList(d88::D88Image& image, int track, int capacity) {
  fillGuard(capacity);
  const int got = image.listSectorIds(track, buffer, capacity);
  FUZZ_CHECK(got >= 0 && got <= capacity && got % 4 == 0);
  FUZZ_CHECK(guardIntact(capacity));
}

void checkRun(d88::D88Image& image, int track, int c, int h, int r, int n, int total) {
  const int room = total > 0 ? total : 0;
  fillGuard(room);
  const int got = image.readSectors(track, c, h, r, n, buffer, total);
  FUZZ_CHECK(got >= 0 && got <= room);
  FUZZ_CHECK(guardIntact(room));
  if (n < 0 || n > d88::kMaxSizeCode) FUZZ_CHECK(got == 0);
}

// The layer lists and reads what Image walks and reads: the listing is the
// walk, going on past a record count of 0.
void exerciseLayer(d88::D88Image& layer, d88::Image& image) {
  FUZZ_CHECK(layer.mediaType() >= 0 && layer.mediaType() <= 255);
  FUZZ_CHECK(std::strlen(layer.diskName()) <= static_cast<std::size_t>(d88::kNameLength));
  FUZZ_CHECK(layer.diskName() == image.disk().name);
  for (int track = -1; track <= d88::kTrackCount; ++track) {
    for (int capacity : {0, 3, 6, 31}) checkList(layer, track, capacity);
    const d88::TrackWalk walk = image.walkTrack(track);
    std::uint8_t ids[4 * 64];
    const int listed = layer.listSectorIds(track, ids, sizeof ids);
    const std::size_t shown = 4 * std::min<std::size_t>(walk.records.size(), 64);
    if (walk.end == d88::TrackEnd::kZeroCount) {
      FUZZ_CHECK(static_cast<std::size_t>(listed) >= shown);
    } else {
      FUZZ_CHECK(static_cast<std::size_t>(listed) == shown);
    }
    for (std::size_t i = 0; 4 * i < shown; ++i) FUZZ_CHECK(ids[4 * i + 2] == walk.records[i].id.r);
    for (int i = 0; i < listed && i < 4 * 8; i += 4) {
      const int c = ids[i], h = ids[i + 1], r = ids[i + 2], n = ids[i + 3];
      std::int32_t got = 0;
      static std::uint8_t other[kMaxRead];
      (void)image.readSector({track, c, h, r, n}, other, kMaxRead, &got);
      FUZZ_CHECK(layer.readSector(track, c, h, r, n, buffer, kMaxRead) == got);
      if (i == 0) {
        layer.setSectorRange(1, 8);
        checkRun(layer, track, c, h, r, n, 1792);
        checkRun(layer, track, c, h, r, n & 7, 5000);
        layer.setSectorRange(r, r);
        checkRun(layer, track, c, h, r, n, kMaxRead);
        layer.setSectorRange(1, 16);
        checkRun(layer, track, c, h, r, n, 300);
      }
    }
  }
  for (int n : {-1, 24, 255}) checkRun(layer, 0, 0, 0, 1, n, 1024);
  checkRun(layer, 0, 0, 0, 1, 3, 0);
  checkRun(layer, 0, 0, 0, 1, 3, -7);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  d88::Image image;
  const Status opened = d88::Image::openMemory(data, size, &image);
  d88::D88Image& layer = d88fuzz::openInput(data, size);
  // Both decide alike whether the bytes are an image; only a refusal fails.
  FUZZ_CHECK(opened.ok() || opened.code() == Status::Code::kNotD88Image);
  FUZZ_CHECK(layer.status().code() == opened.code());
  if (!opened.ok()) {
    FUZZ_CHECK(!opened.message().empty());
    FUZZ_CHECK(size >= static_cast<std::size_t>(d88::kDiskHeaderSize));
    FUZZ_CHECK(!image.isOpen() && layer.diskCount() == 0);
    return 0;
  }
  const int disks = static_cast<int>(image.disks().size());
  FUZZ_CHECK(disks <= d88::kMaxDisks && layer.diskCount() == disks);
  FUZZ_CHECK((disks == 0) == (size < static_cast<std::size_t>(d88::kDiskHeaderSize)));
  FUZZ_CHECK(image.fileSize() == static_cast<std::int64_t>(size));
  FUZZ_CHECK(image.directoryEnd().ok());
  FUZZ_CHECK(!image.selectDisk(disks).ok() && image.selectedDisk() == -1);
  FUZZ_CHECK(!image.selectDisk(-1).ok() && !layer.selectDisk(-1));
  // Disks repeated by a size of 0 are all the same: the first few and the last suffice.
  for (int disk = 0; disk < disks; ++disk) {
    if (disk >= 3 && disk != disks - 1) continue;
    FUZZ_CHECK(image.selectDisk(disk).ok());
    exerciseDisk(image, disk);
    FUZZ_CHECK(layer.selectDisk(disk));
    exerciseLayer(layer, image);
  }
  checkBytes(image, data, size);
  FUZZ_CHECK(image.readFailure().ok());
  FUZZ_CHECK(layer.open(nullptr));
  FUZZ_CHECK(!layer.selectDisk(0));
  return 0;
}
