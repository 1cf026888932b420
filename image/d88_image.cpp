#include <d88/d88_image.h>

#include "image/d88_layout.h"
#include "image/utf8_path.h"

#include <cerrno>
#include <cstring>
#include <limits>

namespace d88 {
namespace {

constexpr std::int64_t kMaxOffset = std::numeric_limits<std::int32_t>::max();
// Any table entry below this points inside the 688-byte header: see selectDisk().
constexpr std::uint32_t kFullHeaderEnd = kDiskHeaderSize;

// r + 1 and the like without signed overflow, whatever a caller passed in.
std::int32_t plusOne(std::int32_t v) {
  return asSigned32(static_cast<std::uint32_t>(v) + 1u);
}

}  // namespace

D88Image::D88Image() = default;

void D88Image::close() {
  file_.reset();
  position_ = -1;
  diskCount_ = 0;
  currentDisk_ = -1;
  mediaType_ = -1;
}

bool D88Image::open(const char* path) {
  close();
  openError_ = 0;
  if (path == nullptr) return true;
  errno = 0;
  file_.reset(openForReading(path));
  if (!file_) {
    openError_ = errno != 0 ? errno : ENOENT;
    return false;
  }
  std::setvbuf(file_.get(), streamBuffer_, _IOFBF, kStreamBufferSize);
  position_ = 0;

  // The disk directory: each whole 688-byte header is a disk, and its size
  // says where the next one starts. The scan ends at a short header, at a
  // position that cannot be reached, or after kMaxDisks disks.
  std::int64_t offset = 0;
  while (diskCount_ < kMaxDisks) {
    std::uint8_t header[kDiskHeaderSize];
    if (!seekTo(offset) || readBytes(header, kDiskHeaderSize) != kDiskHeaderSize) break;
    diskOffsets_[diskCount_++] = static_cast<std::int32_t>(offset);
    offset += asSigned32(readLE32(header + kDiskSizeOffset));
  }
  return true;
}

bool D88Image::selectDisk(std::int32_t index) {
  if (!file_) return false;
  diskOffset_ = -1;
  currentDisk_ = -1;
  mediaType_ = -1;
  diskSize_ = 0;
  std::memset(name_, 0, sizeof name_);
  if (index < 0 || index >= diskCount_) return false;

  std::uint8_t header[kDiskHeaderSize];
  if (!seekTo(diskOffsets_[index]) || readBytes(header, kDiskHeaderSize) != kDiskHeaderSize) {
    return false;
  }

  // Many real images have a table of only 154 or 160 entries: their first
  // track starts inside the 688 bytes, and the slots from there on hold
  // sector data. The first track's offset marks where the table ends.
  std::uint32_t tableEnd = kFullHeaderEnd;
  for (int t = 0; t < kTrackCount; ++t) {
    const std::uint32_t entry = readLE32(header + kTrackTableOffset + kTrackEntrySize * t);
    if (entry != 0) {
      if (entry < kFullHeaderEnd) tableEnd = entry;
      break;
    }
  }
  for (int t = 0; t < kTrackCount; ++t) {
    const std::uint32_t slot = static_cast<std::uint32_t>(kTrackTableOffset + kTrackEntrySize * t);
    trackOffsets_[t] = slot + kTrackEntrySize <= tableEnd
                           ? asSigned32(readLE32(header + slot))
                           : 0;
  }

  diskOffset_ = diskOffsets_[index];
  mediaType_ = header[kMediaTypeOffset];
  diskSize_ = asSigned32(readLE32(header + kDiskSizeOffset));
  for (int i = 0; i < kNameLength && header[kNameOffset + i] != 0; ++i) {
    name_[i] = static_cast<char>(header[kNameOffset + i]);
  }
  return true;
}

void D88Image::setSectorRange(std::int32_t first, std::int32_t last) {
  firstSector_ = first;
  lastSector_ = last;
}

bool D88Image::seekTo(std::int64_t position) {
  if (position < 0 || position > kMaxOffset) return false;
  if (position == position_) return true;
  if (std::fseek(file_.get(), static_cast<long>(position), SEEK_SET) != 0) {
    position_ = -1;
    return false;
  }
  position_ = position;
  return true;
}

std::int32_t D88Image::readBytes(std::uint8_t* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const std::size_t got = std::fread(buffer, 1, static_cast<std::size_t>(count), file_.get());
  // After a short read the stream may stand anywhere: forget the position.
  position_ = got == static_cast<std::size_t>(count) && position_ >= 0
                  ? position_ + count
                  : -1;
  return static_cast<std::int32_t>(got);
}

bool D88Image::trackStart(std::int32_t track, std::int64_t* position) const {
  if (!file_ || track < 0 || track >= kTrackCount) return false;
  const std::int32_t offset = trackOffsets_[track];
  // A negative entry is a value of 2^31 or more in the file: far beyond any
  // disk this reader accepts, so it is treated as absent like a zero.
  if (offset <= 0 || offset > diskSize_) return false;
  *position = static_cast<std::int64_t>(diskOffset_) + offset;
  return *position <= kMaxOffset;
}

// Visits the records of a track from its first, until the visitor stops, the
// record count of the header just read is reached, a header does not come
// whole, or the next record would lie beyond a reachable offset.
template <typename Visit>
void D88Image::walkTrack(std::int32_t track, Visit&& visit) {
  std::int64_t position = 0;
  if (!trackStart(track, &position) || !seekTo(position)) return;
  for (std::int32_t i = 0;; ++i) {
    std::uint8_t raw[kSectorHeaderSize];
    if (readBytes(raw, kSectorHeaderSize) != kSectorHeaderSize) return;
    const RecordHeader record{
        {raw[kSectorCOffset], raw[kSectorHOffset], raw[kSectorROffset], raw[kSectorNOffset]},
        readLE16(raw + kSectorCountOffset),
        readLE16(raw + kDataSizeOffset)};
    position += kSectorHeaderSize;
    if (visit(record) == Walk::kStop) return;
    if (i == record.sectorCount - 1) return;
    if (record.dataSize != 0) {
      position += record.dataSize;
      if (!seekTo(position)) return;
    }
  }
}

std::int32_t D88Image::readSector(std::int32_t track, std::int32_t c, std::int32_t h,
                                  std::int32_t r, std::int32_t n, std::uint8_t* buffer,
                                  std::int32_t maxBytes) {
  if (buffer == nullptr || maxBytes <= 0) return 0;
  std::int32_t copied = 0;
  walkTrack(track, [&](const RecordHeader& record) {
    // A header that says its track has no sectors ends the search.
    if (record.sectorCount == 0) return Walk::kStop;
    if (record.id.c == c && record.id.h == h && record.id.r == r && record.id.n == n) {
      const std::int32_t length = record.dataSize < maxBytes ? record.dataSize : maxBytes;
      copied = readBytes(buffer, length);
      return Walk::kStop;
    }
    return Walk::kNext;
  });
  return copied;
}

std::int32_t D88Image::readSectors(std::int32_t track, std::int32_t c, std::int32_t h,
                                   std::int32_t r, std::int32_t n, std::uint8_t* buffer,
                                   std::int32_t totalBytes) {
  if (n < 0 || n > kMaxSizeCode) return 0;
  std::int32_t chunk = 128 << n;
  SectorAddress at{track, c, h, r, n};
  std::int32_t done = 0;
  while (done < totalBytes) {
    if (totalBytes - done < chunk) chunk = totalBytes - done;
    const std::int32_t got = readSector(at.track, at.c, at.h, at.r, at.n, buffer + done, chunk);
    if (got < chunk) return done;
    done += chunk;
    at = followingSector(at);
  }
  return done;
}

SectorAddress D88Image::followingSector(const SectorAddress& at) const {
  SectorAddress next = at;
  if (at.r == lastSector_) {
    next.track = plusOne(at.track);
    if (at.h == 0) {
      next.h = 1;
    } else {
      next.h = 0;
      next.c = plusOne(at.c);
    }
    next.r = firstSector_;
  } else {
    next.r = plusOne(at.r);
  }
  return next;
}

std::int32_t D88Image::listSectorIds(std::int32_t track, std::uint8_t* buffer,
                                     std::int32_t capacityBytes) {
  if (buffer == nullptr || capacityBytes < kSectorIdSize) return 0;
  std::int32_t written = 0;
  walkTrack(track, [&](const RecordHeader& record) {
    std::uint8_t* entry = buffer + written;
    entry[0] = record.id.c;
    entry[1] = record.id.h;
    entry[2] = record.id.r;
    entry[3] = record.id.n;
    written += kSectorIdSize;
    // A record count of 0 does not end the listing; only the capacity does.
    return capacityBytes - written < kSectorIdSize ? Walk::kStop : Walk::kNext;
  });
  return written;
}

}  // namespace d88
