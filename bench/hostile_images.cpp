// make_hostile_images OUTDIR [MiB]
//
// Writes the images that scripts/bench-hostile.sh measures d88cut and d88ls
// on: record chains and track tables built to make a careless reader walk,
// keep or list far more than the file holds, plus sane disks as a reference.
// Every image is deterministic (fixed seeds), so runs compare.
//
//   chain0.d88      every track-table entry points just after the header; one
//                   chain of 0-byte records fills the file, the first with
//                   record count 2, all others count 1, so no walk ever ends by
//                   its count
//   stride16.d88    entry t points at record t (16 bytes apart); 0-byte
//                   records, the first 164 with count 200, the rest count 1
//   count65535.d88  65,000 records with count 0xFFFF, then count 1 to the
//                   end; random C/H/R, N 3, 0..64 data bytes; entry t at
//                   record t * 400
//   random.d88      random bytes
//   twins64k.d88    records of 65,535 zero bytes, all C 30 H 0 R 1 N 3 (the
//                   first sector d88cut reads) with count 0xFFFF; entry t at
//                   record t, so every walk holds 256 twins to compare
//   zerocount.d88   0-byte records with count 0 fill the file; every entry
//                   points at the first
//   disks64.d88     64 disks back to back, each shaped as stride16, with exact
//                   size fields so that all 64 are found
//   json1024.d88    ~17 KB: every entry points at one track of 1,024 0-byte
//                   records with count 1024 (for d88ls --json IMAGE 0)
//   shared64k.d88   ~16.8 MB whatever MiB says: every entry points at one
//                   track of 256 records of 65,535 pattern bytes with count
//                   256 (for d88ls --fingerprint: the track is hashed once,
//                   not once per entry)
//   shared256.d88   4,784 bytes: every entry points at one track of 256
//                   0-byte records with count 256
//   sane.d88        a formatted 2HD disk: 77 x 2 x 8 x 1024
//   sane64.d88      64 such disks (~82 MB)
//
// MiB (default 64, 1..1024) is the size of each of the first six; disks64
// splits it into 64 equal disks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "d88_builder.h"

namespace {

using d88build::Bytes;

// Disk header fields, as offsets from the disk's start.
constexpr std::size_t kNameOffset = 0x00;
constexpr std::size_t kWriteProtectOffset = 0x1A;
constexpr std::size_t kMediaOffset = 0x1B;
constexpr std::size_t kDiskSizeOffset = 0x1C;
constexpr std::size_t kTrackTableOffset = 0x20;
constexpr std::size_t kTrackEntries = 164;
constexpr std::size_t kDiskHeaderSize = 0x2B0;
constexpr std::uint8_t kMedia2HD = 0x20;

// Record header fields, as offsets from the record's start.
constexpr std::size_t kRecordC = 0;
constexpr std::size_t kRecordH = 1;
constexpr std::size_t kRecordR = 2;
constexpr std::size_t kRecordN = 3;
constexpr std::size_t kRecordCountOffset = 4;
constexpr std::size_t kRecordDensityOffset = 6;
constexpr std::size_t kRecordDeletedOffset = 7;
constexpr std::size_t kRecordStatusOffset = 8;
constexpr std::size_t kRecordDataSizeOffset = 0x0E;
constexpr std::size_t kRecordHeaderSize = 16;

constexpr std::size_t kMiB = std::size_t{1} << 20;

// A small deterministic generator (xorshift64*), so the images are the same on
// every machine and every standard library.
class Prng {
 public:
  explicit Prng(std::uint64_t seed) : state_(seed ? seed : 1) {}

  std::uint64_t next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1DULL;
  }
  std::uint8_t byte() { return static_cast<std::uint8_t>(next() >> 56); }
  // 0..bound inclusive.
  std::size_t upTo(std::size_t bound) {
    return static_cast<std::size_t>(next() >> 32) % (bound + 1);
  }

 private:
  std::uint64_t state_;
};

struct Identity {
  std::uint8_t c = 0;
  std::uint8_t h = 0;
  std::uint8_t r = 0;
  std::uint8_t n = 0;
};

// The identity a formatted 2HD disk would give its record `index` when the
// records ran in track order: C 0..76, H 0..1, R 1..8, N 3. Chains of such
// records look like sectors d88cut reads, wherever a walk starts.
Identity formattedIdentity(std::size_t index) {
  Identity id;
  id.c = static_cast<std::uint8_t>((index / 16) % 77);
  id.h = static_cast<std::uint8_t>((index / 8) % 2);
  id.r = static_cast<std::uint8_t>(1 + index % 8);
  id.n = 3;
  return id;
}

// Writes a disk header at `start`: name, 2HD, the size field; the track table
// is left zero for the caller.
void putDiskHeader(Bytes& bytes, std::size_t start, const std::string& name,
                   std::uint32_t diskSize) {
  for (std::size_t i = 0; i < name.size() && i < 17; ++i) {
    d88build::putByte(bytes, start + kNameOffset + i, static_cast<std::uint8_t>(name[i]));
  }
  d88build::putByte(bytes, start + kWriteProtectOffset, 0x00);
  d88build::putByte(bytes, start + kMediaOffset, kMedia2HD);
  d88build::putLE32(bytes, start + kDiskSizeOffset, diskSize);
}

// Track-table entry `track` of the disk at `start`, as an offset from the disk's start.
void putTrackEntry(Bytes& bytes, std::size_t start, std::size_t track, std::size_t offset) {
  d88build::putLE32(bytes, start + kTrackTableOffset + 4 * track,
                    static_cast<std::uint32_t>(offset));
}

// Writes a record header at `at`; the data bytes after it are the caller's.
void putRecordHeader(Bytes& bytes, std::size_t at, Identity id, std::uint16_t count,
                     std::uint16_t dataSize) {
  d88build::putByte(bytes, at + kRecordC, id.c);
  d88build::putByte(bytes, at + kRecordH, id.h);
  d88build::putByte(bytes, at + kRecordR, id.r);
  d88build::putByte(bytes, at + kRecordN, id.n);
  d88build::putLE16(bytes, at + kRecordCountOffset, count);
  d88build::putByte(bytes, at + kRecordDensityOffset, 0x00);
  d88build::putByte(bytes, at + kRecordDeletedOffset, 0x00);
  d88build::putByte(bytes, at + kRecordStatusOffset, 0x00);
  d88build::putLE16(bytes, at + kRecordDataSizeOffset, dataSize);
}

// Number of 0-byte records that fill a disk of `diskSize` bytes after its header.
std::size_t emptyRecordsIn(std::size_t diskSize) {
  return (diskSize - kDiskHeaderSize) / kRecordHeaderSize;
}

// Rounds a size down to whole 0-byte records after a disk header, so that the
// chain ends exactly at the end of the disk.
std::size_t recordAligned(std::size_t size) {
  return kDiskHeaderSize + emptyRecordsIn(size) * kRecordHeaderSize;
}

// One disk whose every track-table entry points just after the header, and
// one chain of 0-byte records from there to the end; record i says countOf(i)
// records.
template <typename CountOf>
Bytes emptyChain(std::size_t size, const std::string& name, CountOf countOf) {
  size = recordAligned(size);
  Bytes bytes(size, 0);
  putDiskHeader(bytes, 0, name, static_cast<std::uint32_t>(size));
  for (std::size_t t = 0; t < kTrackEntries; ++t) putTrackEntry(bytes, 0, t, kDiskHeaderSize);
  const std::size_t records = emptyRecordsIn(size);
  for (std::size_t i = 0; i < records; ++i) {
    putRecordHeader(bytes, kDiskHeaderSize + i * kRecordHeaderSize, formattedIdentity(i),
                    countOf(i), 0);
  }
  return bytes;
}

Bytes chain0(std::size_t size) {
  return emptyChain(size, "CHAIN0", [](std::size_t i) -> std::uint16_t { return i == 0 ? 2 : 1; });
}

// One stride16 disk of `size` bytes (a whole number of records) at `start`.
void putStride16Disk(Bytes& bytes, std::size_t start, std::size_t size, const std::string& name) {
  putDiskHeader(bytes, start, name, static_cast<std::uint32_t>(size));
  for (std::size_t t = 0; t < kTrackEntries; ++t) {
    putTrackEntry(bytes, start, t, kDiskHeaderSize + kRecordHeaderSize * t);
  }
  const std::size_t records = emptyRecordsIn(size);
  for (std::size_t i = 0; i < records; ++i) {
    putRecordHeader(bytes, start + kDiskHeaderSize + i * kRecordHeaderSize, formattedIdentity(i),
                    i < kTrackEntries ? 200 : 1, 0);
  }
}

Bytes stride16(std::size_t size) {
  size = recordAligned(size);
  Bytes bytes(size, 0);
  putStride16Disk(bytes, 0, size, "STRIDE16");
  return bytes;
}

Bytes count65535(std::size_t size) {
  constexpr std::size_t kCountedRecords = 65000;
  constexpr std::size_t kEntryStride = 400;  // records between two track starts
  constexpr std::size_t kMaxData = 64;
  Prng prng(0x65535);
  Bytes bytes(size, 0);
  putDiskHeader(bytes, 0, "COUNT65535", static_cast<std::uint32_t>(size));
  std::size_t at = kDiskHeaderSize;
  std::size_t index = 0;
  // Every step leaves either nothing or room for a whole record header, so the
  // last record's data ends exactly at the end of the file.
  while (size - at >= kRecordHeaderSize) {
    const std::size_t room = size - at - kRecordHeaderSize;
    std::size_t dataSize = prng.upTo(kMaxData);
    if (room < dataSize + kRecordHeaderSize) dataSize = room;
    if (index % kEntryStride == 0 && index / kEntryStride < kTrackEntries) {
      putTrackEntry(bytes, 0, index / kEntryStride, at);
    }
    Identity id;
    id.c = prng.byte();
    id.h = prng.byte();
    id.r = prng.byte();
    id.n = 3;
    putRecordHeader(bytes, at, id, index < kCountedRecords ? 0xFFFF : 1,
                    static_cast<std::uint16_t>(dataSize));
    for (std::size_t i = 0; i < dataSize; ++i) {
      d88build::putByte(bytes, at + kRecordHeaderSize + i, prng.byte());
    }
    at += kRecordHeaderSize + dataSize;
    ++index;
  }
  return bytes;
}

Bytes randomBytes(std::size_t size) {
  Prng prng(0x5EED);
  Bytes bytes(size);
  for (std::uint8_t& b : bytes) b = prng.byte();
  return bytes;
}

Bytes twins64k(std::size_t size) {
  constexpr std::size_t kData = 0xFFFF;
  constexpr std::size_t kRecord = kRecordHeaderSize + kData;
  size = kDiskHeaderSize + (size - kDiskHeaderSize) / kRecord * kRecord;
  Bytes bytes(size, 0);
  putDiskHeader(bytes, 0, "TWINS64K", static_cast<std::uint32_t>(size));
  const Identity prog{30, 0, 1, 3};
  const std::size_t records = (size - kDiskHeaderSize) / kRecord;
  for (std::size_t i = 0; i < records; ++i) {
    const std::size_t at = kDiskHeaderSize + i * kRecord;
    if (i < kTrackEntries) putTrackEntry(bytes, 0, i, at);
    putRecordHeader(bytes, at, prog, 0xFFFF, static_cast<std::uint16_t>(kData));
  }
  return bytes;
}

Bytes zerocount(std::size_t size) {
  return emptyChain(size, "ZEROCOUNT", [](std::size_t) -> std::uint16_t { return 0; });
}

Bytes disks64(std::size_t size) {
  constexpr std::size_t kDisks = 64;
  // The per-disk size is a multiple of 16 KiB, and 0x2B0 is a whole number of
  // record headers, so each disk's chain ends exactly at its size field.
  const std::size_t diskSize = size / kDisks;
  Bytes bytes(diskSize * kDisks, 0);
  for (std::size_t d = 0; d < kDisks; ++d) {
    putStride16Disk(bytes, d * diskSize, diskSize, "STRIDE16-" + std::to_string(d));
  }
  return bytes;
}

Bytes json1024() {
  constexpr std::size_t kRecords = 1024;
  const std::size_t size = kDiskHeaderSize + kRecords * kRecordHeaderSize;
  Bytes bytes(size, 0);
  putDiskHeader(bytes, 0, "JSON1024", static_cast<std::uint32_t>(size));
  for (std::size_t t = 0; t < kTrackEntries; ++t) putTrackEntry(bytes, 0, t, kDiskHeaderSize);
  for (std::size_t i = 0; i < kRecords; ++i) {
    putRecordHeader(bytes, kDiskHeaderSize + i * kRecordHeaderSize, formattedIdentity(i),
                    static_cast<std::uint16_t>(kRecords), 0);
  }
  return bytes;
}

// One disk whose 164 track-table entries all point at one track of 256
// records of `dataSize` bytes each (count 256), the data from a fixed seed.
Bytes sharedTrack(const std::string& name, std::size_t dataSize) {
  constexpr std::size_t kRecords = 256;
  const std::size_t record = kRecordHeaderSize + dataSize;
  const std::size_t size = kDiskHeaderSize + kRecords * record;
  Prng prng(0x5AA4ED);
  Bytes bytes(size, 0);
  putDiskHeader(bytes, 0, name, static_cast<std::uint32_t>(size));
  for (std::size_t t = 0; t < kTrackEntries; ++t) putTrackEntry(bytes, 0, t, kDiskHeaderSize);
  for (std::size_t i = 0; i < kRecords; ++i) {
    const std::size_t at = kDiskHeaderSize + i * record;
    putRecordHeader(bytes, at, formattedIdentity(i), static_cast<std::uint16_t>(kRecords),
                    static_cast<std::uint16_t>(dataSize));
    for (std::size_t b = 0; b < dataSize; ++b) {
      d88build::putByte(bytes, at + kRecordHeaderSize + b, prng.byte());
    }
  }
  return bytes;
}

// `disks` formatted 2HD disks back to back, built one at a time so that only
// the image itself is held whole.
Bytes saneDisks(int disks) {
  Bytes bytes;
  for (int d = 0; d < disks; ++d) {
    const d88build::Image one = d88build::build({d88build::standardDisk(d)});
    bytes.insert(bytes.end(), one.bytes.begin(), one.bytes.end());
  }
  return bytes;
}

bool write(const std::string& dir, const std::string& name, const Bytes& bytes) {
  const std::string path = dir + "/" + name;
  if (!d88build::writeFile(path, bytes)) {
    std::cerr << "make_hostile_images: cannot write " << path << "\n";
    return false;
  }
  std::cout << path << " " << bytes.size() << " bytes\n";
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "Usage: make_hostile_images OUTDIR [MiB]\n";
    return 2;
  }
  const std::string dir = argv[1];
  long mib = 64;
  if (argc == 3) {
    char* end = nullptr;
    mib = std::strtol(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || mib < 1 || mib > 1024) {
      std::cerr << "make_hostile_images: MiB must be a whole number from 1 to 1024\n";
      return 2;
    }
  }
  const std::size_t size = static_cast<std::size_t>(mib) * kMiB;

  try {
    bool ok = true;
    // One image in memory at a time.
    ok = write(dir, "chain0.d88", chain0(size)) && ok;
    ok = write(dir, "stride16.d88", stride16(size)) && ok;
    ok = write(dir, "count65535.d88", count65535(size)) && ok;
    ok = write(dir, "random.d88", randomBytes(size)) && ok;
    ok = write(dir, "twins64k.d88", twins64k(size)) && ok;
    ok = write(dir, "zerocount.d88", zerocount(size)) && ok;
    ok = write(dir, "disks64.d88", disks64(size)) && ok;
    ok = write(dir, "json1024.d88", json1024()) && ok;
    ok = write(dir, "shared64k.d88", sharedTrack("SHARED64K", 0xFFFF)) && ok;
    ok = write(dir, "shared256.d88", sharedTrack("SHARED256", 0)) && ok;
    ok = write(dir, "sane.d88", saneDisks(1)) && ok;
    ok = write(dir, "sane64.d88", saneDisks(64)) && ok;
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "make_hostile_images: " << e.what() << "\n";
    return 1;
  }
}
