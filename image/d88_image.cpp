// The original reader interface as a thin layer over Image: each call maps
// onto one of Image's, and keeps the reason of a failure for status().
#include <d88/d88_image.h>

#include <algorithm>
#include <vector>

#include "image_access.h"

namespace d88 {

bool D88Image::open(const char* path) {
  name_.clear();
  status_ = Status();
  if (path == nullptr) {
    image_.close();
    return true;
  }
  // Only a file that cannot be opened makes the open fail. One that cannot
  // be read before a disk is found, or is no D88 image at all, opens with
  // no disk; status() says why.
  Status s = Image::open(path, &image_);
  if (!s.ok()) {
    status_ = s;
    return s.code() != Status::Code::kCannotOpen;
  }
  // The disks found before a read that failed read as usual.
  status_ = image_.directoryEnd();
  return true;
}

bool D88Image::selectDisk(std::int32_t index) {
  name_.clear();
  Status s = image_.selectDisk(index);
  if (!s.ok()) return failed(s);
  name_ = image_.disk().name;
  return true;
}

void D88Image::setSectorRange(std::int32_t first, std::int32_t last) {
  range_ = SectorRange{first, last};
}

std::int32_t D88Image::diskCount() const {
  return static_cast<std::int32_t>(image_.disks().size());
}

std::int32_t D88Image::currentDisk() const { return -1; }

std::int32_t D88Image::mediaType() const {
  return image_.selectedDisk() >= 0 ? image_.disk().mediaType : -1;
}

const char* D88Image::diskName() const { return name_.c_str(); }

std::int32_t D88Image::readSector(std::int32_t track, std::int32_t c, std::int32_t h,
                                  std::int32_t r, std::int32_t n, std::uint8_t* buffer,
                                  std::int32_t maxBytes) {
  if (buffer == nullptr || maxBytes <= 0) return 0;
  std::int32_t got = 0;
  Status s = image_.readSector({track, c, h, r, n}, buffer, maxBytes, &got);
  if (!s.ok()) status_ = s;
  return got;
}

std::int32_t D88Image::readSectors(std::int32_t track, std::int32_t c, std::int32_t h,
                                   std::int32_t r, std::int32_t n, std::uint8_t* buffer,
                                   std::int32_t totalBytes) {
  if (buffer == nullptr || n < 0 || n > kMaxSizeCode) return 0;
  const std::int32_t nominal = sectorBytes(n);
  SectorAddress at{track, c, h, r, n};
  std::int32_t done = 0;
  while (done < totalBytes) {
    const std::int32_t slot = std::min(nominal, totalBytes - done);
    if (readSector(at.track, at.c, at.h, at.r, at.n, buffer + done, slot) < slot) break;
    done += slot;
    at = followingSector(at, range_);
  }
  return done;
}

std::int32_t D88Image::listSectorIds(std::int32_t track, std::uint8_t* buffer,
                                     std::int32_t capacityBytes) {
  if (buffer == nullptr || capacityBytes < kSectorIdSize) return 0;
  const std::size_t capacity = static_cast<std::size_t>(capacityBytes / kSectorIdSize);
  TrackWalk onward;
  const TrackWalk* walk = nullptr;
  Status s = ImageAccess::walkPastZeroCounts(image_, track, capacity, &onward, &walk);
  if (!s.ok()) status_ = s;
  if (walk == nullptr) return 0;
  const std::size_t listed = std::min(capacity, walk->records.size());
  for (std::size_t i = 0; i < listed; ++i) {
    const SectorId& id = walk->records[i].id;
    std::uint8_t* entry = buffer + kSectorIdSize * i;
    entry[0] = id.c;
    entry[1] = id.h;
    entry[2] = id.r;
    entry[3] = id.n;
  }
  return static_cast<std::int32_t>(listed * kSectorIdSize);
}

}  // namespace d88
