#include "track_walk.h"

#include <algorithm>

#include "byte_source.h"
#include "d88_layout.h"

namespace d88 {

void walkRecords(ByteSource& source, std::int64_t start, std::int64_t diskEnd,
                 const WalkLimits& limits, TrackWalk* walk) {
  std::int64_t position = start;
  for (std::size_t i = 0;; ++i) {
    walk->endOffset = position;
    if (i >= limits.maxRecords) {
      walk->end = TrackEnd::kCap;
      return;
    }
    if (position >= diskEnd) {
      walk->end = TrackEnd::kDiskEnd;
      return;
    }
    if (diskEnd - position < kSectorHeaderSize) {
      walk->end = TrackEnd::kHeaderCutOff;
      return;
    }
    const std::uint8_t* raw = nullptr;
    std::size_t got = 0;
    Status s = source.view(position, kSectorHeaderSize, &raw, &got,
                           i == 0 ? limits.expectedBytes : 0);
    if (!s.ok()) {
      walk->end = TrackEnd::kReadError;
      walk->error = s;
      return;
    }
    if (got < static_cast<std::size_t>(kSectorHeaderSize)) {
      // The file ends inside the header (or right before it).
      walk->end = got == 0 ? TrackEnd::kDiskEnd : TrackEnd::kHeaderCutOff;
      return;
    }
    SectorRecord record{};
    record.id = {raw[kSectorCOffset], raw[kSectorHOffset], raw[kSectorROffset],
                 raw[kSectorNOffset]};
    record.recordCount = readLE16(raw + kSectorCountOffset);
    record.density = raw[kDensityOffset];
    record.deletedMark = raw[kDeletedMarkOffset];
    record.status = raw[kStatusOffset];
    record.dataSize = readLE16(raw + kDataSizeOffset);
    record.headerOffset = position;
    const std::int64_t data = position + kSectorHeaderSize;
    // The data the disk really holds: no further than the disk's end, nor
    // than the file's.
    const std::size_t inDisk = static_cast<std::size_t>(
        std::max<std::int64_t>(0, std::min<std::int64_t>(record.dataSize, diskEnd - data)));
    std::size_t there = 0;
    s = source.available(data, inDisk, &there);
    if (!s.ok()) {
      walk->end = TrackEnd::kReadError;
      walk->error = s;
      return;
    }
    record.dataAvailable = static_cast<std::int32_t>(there);
    walk->records.push_back(record);
    if (record.recordCount == 0 && limits.stopAtZeroCount) {
      walk->end = TrackEnd::kZeroCount;
      return;
    }
    if (i + 1 == record.recordCount) {
      walk->end = TrackEnd::kRecordCount;
      return;
    }
    position = data + record.dataSize;
  }
}

}  // namespace d88
