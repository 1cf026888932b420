// The D88 image layout: named offsets, sizes and the little-endian helpers
// through which every multi-byte number is decoded and encoded. Shared by
// the reader, the writer, the file-system layer, their tests and fuzz
// targets in the build tree; not installed.
#ifndef D88CUT_IMAGE_D88_LAYOUT_H_
#define D88CUT_IMAGE_D88_LAYOUT_H_

#include <cstdint>

#include <d88/format.h>

namespace d88 {

// Disk header: kDiskHeaderSize (688) bytes at the start of every disk.
constexpr int kNameOffset = 0x00;
constexpr int kWriteProtectOffset = 0x1A;
constexpr int kMediaTypeOffset = 0x1B;
constexpr int kDiskSizeOffset = 0x1C;
constexpr int kTrackTableOffset = 0x20;
constexpr int kTrackEntrySize = 4;

// Sector record: a 16-byte header followed directly by dataSize bytes of data.
constexpr int kSectorHeaderSize = 16;
constexpr int kSectorCOffset = 0x00;
constexpr int kSectorHOffset = 0x01;
constexpr int kSectorROffset = 0x02;
constexpr int kSectorNOffset = 0x03;
constexpr int kSectorCountOffset = 0x04;
constexpr int kDensityOffset = 0x06;
constexpr int kDeletedMarkOffset = 0x07;
constexpr int kStatusOffset = 0x08;
constexpr int kDataSizeOffset = 0x0E;

// Unsigned little-endian 16-bit value from p[0], p[1], whatever the host's byte order.
inline std::uint16_t readLE16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Unsigned little-endian 32-bit value from p[0]..p[3], whatever the host's byte order.
inline std::uint32_t readLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Stores the low 16 bits of `value` at p[0], p[1], little-endian.
inline void writeLE16(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value & 0xFF);
  p[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

// Stores the low 32 bits of `value` at p[0]..p[3], little-endian.
inline void writeLE32(std::uint8_t* p, std::uint64_t value) {
  writeLE16(p, static_cast<std::uint32_t>(value & 0xFFFF));
  writeLE16(p + 2, static_cast<std::uint32_t>((value >> 16) & 0xFFFF));
}

// C, H, R, N in one number, in that order of significance: the key by which
// sectors are ordered (identityBefore) and a track's index is searched.
std::uint32_t identityKey(const SectorId& id);

}  // namespace d88

#endif  // D88CUT_IMAGE_D88_LAYOUT_H_
