// Builds D88 images in memory: several disks, any track layout, records in any
// order, chosen fields overridden. Support for tests, fuzz seeds, benchmarks
// and the demo. The sound disk is laid out by the library's writer; the
// overrides then break what a damaged fixture needs broken, past anything
// the writer would accept.
#ifndef D88CUT_IMAGE_BUILDER_D88_BUILDER_H_
#define D88CUT_IMAGE_BUILDER_D88_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace d88build {

using Bytes = std::vector<std::uint8_t>;

// One sector record. sectorCount and dataSize are written as given when set
// (>= 0); otherwise they are the track's record count and data.size().
struct Record {
  std::uint8_t c = 0;
  std::uint8_t h = 0;
  std::uint8_t r = 0;
  std::uint8_t n = 0;
  Bytes data;
  std::uint8_t density = 0x00;  // 0x40: single density
  std::uint8_t deletedMark = 0x00;  // 0x10: deleted data
  std::uint8_t status = 0x00;  // the controller's status, e.g. 0xB0 data CRC error
  int sectorCount = -1;
  int dataSize = -1;
};

struct Disk {
  std::string name;                         // up to 17 bytes, written as is
  std::uint8_t mediaType = 0x20;            // 2HD
  std::uint8_t writeProtect = 0x00;         // 0x10: protected
  int tableEntries = 164;                   // fewer makes a short table
  std::map<int, std::vector<Record>> tracks;  // track index -> records in file order
  // Track index -> a track of `tracks` whose table entry it is given, so that
  // the two point at one place and share its records. A track here that is
  // in `tracks` too keeps its records in the file, where no entry points.
  std::map<int, int> sameAs;
  std::int64_t diskSize = -1;               // written as given when >= 0
};

// An image and where its parts stand in it, as file offsets.
struct Image {
  Bytes bytes;
  std::vector<std::size_t> diskOffsets;
  // [disk][track] -> file offset of each record header, in file order.
  std::vector<std::map<int, std::vector<std::size_t>>> records;

  std::size_t recordOffset(int disk, int track, int index) const;
};

// A record of identity (c, h, r, n) holding `data`; the other fields as Record has them.
Record record(int c, int h, int r, int n, Bytes data);

// Lays the disks out back to back; tracks in index order after each header.
Image build(const std::vector<Disk>& disks);

// Deterministic content of sector r of `track`, byte i, for disk `seed`.
std::uint8_t patternByte(int seed, int track, int r, std::size_t i);
Bytes sectorPattern(int seed, int track, int r, std::size_t size);

// A formatted disk: `cylinders` x `heads` tracks of sectors 1..sectors, size
// code n, identities C = track / heads, H = track % heads, pattern data.
Disk standardDisk(int seed = 0, int cylinders = 77, int heads = 2, int sectors = 8, int n = 3);

// Damage helpers: overwrite a field of an image in place.
void putByte(Bytes& bytes, std::size_t offset, std::uint8_t value);
void putLE16(Bytes& bytes, std::size_t offset, std::uint16_t value);
void putLE32(Bytes& bytes, std::size_t offset, std::uint32_t value);

// Writes bytes to the file at UTF-8 `path`; false when it cannot be written whole.
bool writeFile(const std::string& path, const Bytes& bytes);

}  // namespace d88build

#endif  // D88CUT_IMAGE_BUILDER_D88_BUILDER_H_
