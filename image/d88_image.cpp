#include <d88/d88_image.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>

#include "image/d88_layout.h"
#include "image/random_access_file.h"

namespace d88 {
namespace {

// Disk offsets are kept in signed 32-bit fields: no disk starts beyond this.
constexpr std::int64_t kMaxOffset = std::numeric_limits<std::int32_t>::max();
// Where a disk with no known end stops: reads come up short at the end of the file.
constexpr std::int64_t kNoEnd = std::numeric_limits<std::int64_t>::max();
// Any table entry below this points inside the 688-byte header: see selectDisk().
constexpr std::uint32_t kFullHeaderEnd = kDiskHeaderSize;
// A track is read from the file in one piece of at least this many bytes,
// enough for any common track, so that a walk seldom needs a second read.
constexpr std::size_t kTrackReadAhead = 16 * 1024;
// Track bytes kept for the selected disk at most, beyond the track being read;
// a damaged disk whose tracks overlap would otherwise keep its bytes many times.
constexpr std::size_t kCacheBudget = 16 * 1024 * 1024;

// r + 1 and the like without signed overflow, whatever a caller passed in.
std::int32_t plusOne(std::int32_t v) {
  return asSigned32(static_cast<std::uint32_t>(v) + 1u);
}

// C, H, R, N in one number for searching; false when a part is not a byte.
bool identityKey(std::int32_t c, std::int32_t h, std::int32_t r, std::int32_t n,
                 std::uint32_t* key) {
  for (std::int32_t v : {c, h, r, n}) {
    if (v < 0 || v > 0xFF) return false;
  }
  *key = static_cast<std::uint32_t>(c) << 24 | static_cast<std::uint32_t>(h) << 16 |
         static_cast<std::uint32_t>(r) << 8 | static_cast<std::uint32_t>(n);
  return true;
}

std::uint32_t identityKey(const SectorId& id) {
  return static_cast<std::uint32_t>(id.c) << 24 | static_cast<std::uint32_t>(id.h) << 16 |
         static_cast<std::uint32_t>(id.r) << 8 | id.n;
}

}  // namespace

bool isMarkedBad(std::uint8_t status) {
  return status != kStatusNormal && status != kStatusDeletedData;
}

std::string statusMeaning(std::uint8_t status) {
  switch (status) {
    case kStatusNormal:
      return "normal";
    case kStatusDeletedData:
      return "deleted data";
    case kStatusIdCrcError:
      return "ID CRC error";
    case kStatusDataCrcError:
      return "data CRC error";
    case kStatusNoAddressMark:
      return "no address mark";
    case kStatusNoDataMark:
      return "no data mark";
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "unknown status 0x%02X", static_cast<unsigned>(status));
      return text;
    }
  }
}

std::string sectorAddressText(const SectorAddress& a) {
  char text[96];
  std::snprintf(text, sizeof text, "track %d (C %d, H %d, R %d, N %d)", static_cast<int>(a.track),
                static_cast<int>(a.c), static_cast<int>(a.h), static_cast<int>(a.r),
                static_cast<int>(a.n));
  return text;
}

// One walked track: its records, the file's bytes from its first record as far
// as its records go, and a sorted index of the identities a search can reach.
struct D88Image::Track {
  std::int64_t start = 0;
  std::vector<std::uint8_t> bytes;
  std::vector<SectorRecord> records;
  // (identity, record index) of the first record of each identity that a
  // search reaches, sorted by identity.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> searchable;
};

// The walked tracks of the selected disk, within a byte budget.
class D88Image::TrackCache {
 public:
  const Track* find(std::int32_t index) const {
    return tracks_[static_cast<std::size_t>(index)].get();
  }
  const Track* store(std::int32_t index, std::unique_ptr<Track> track) {
    if (bytes_ + track->bytes.size() > kCacheBudget) clear();
    bytes_ += track->bytes.size();
    tracks_[static_cast<std::size_t>(index)] = std::move(track);
    return find(index);
  }
  void clear() {
    for (auto& t : tracks_) t.reset();
    bytes_ = 0;
  }

 private:
  std::array<std::unique_ptr<Track>, kTrackCount> tracks_;
  std::size_t bytes_ = 0;
};

D88Image::D88Image() : file_(new RandomAccessFile), cache_(new TrackCache) {}

D88Image::~D88Image() = default;

void D88Image::forgetDisk() {
  cache_->clear();
  diskOffset_ = -1;
  currentDisk_ = -1;
  mediaType_ = -1;
  writeProtect_ = -1;
  diskSize_ = 0;
  diskEnd_ = 0;
  std::memset(name_, 0, sizeof name_);
}

bool D88Image::open(const char* path) {
  // Nothing of an earlier file may leak into what is said about this one.
  file_->close();
  forgetDisk();
  diskOffset_ = 0;
  std::memset(trackOffsets_, 0, sizeof trackOffsets_);
  std::memset(diskOffsets_, 0, sizeof diskOffsets_);
  std::fill(std::begin(diskEnds_), std::end(diskEnds_), 0);
  diskCount_ = 0;
  openError_ = 0;
  if (path == nullptr) return true;
  openError_ = file_->open(path);
  if (openError_ != 0) return false;

  // The disk directory: each whole 688-byte header is a disk, and its size
  // field says where the next one starts. The scan ends at a short header, at
  // an offset a disk cannot have, after a size too small to hold a header
  // (which would find the same disk again and again), or after kMaxDisks.
  const std::int64_t fileEnd = file_->size() >= 0 ? file_->size() : kNoEnd;
  std::int64_t offset = 0;
  while (diskCount_ < kMaxDisks && offset <= kMaxOffset) {
    std::uint8_t header[kDiskHeaderSize];
    if (file_->readAt(offset, header, kDiskHeaderSize) != kDiskHeaderSize) break;
    const std::int32_t size = asSigned32(readLE32(header + kDiskSizeOffset));
    diskOffsets_[diskCount_] = static_cast<std::int32_t>(offset);
    // Until a next disk is found, a disk's records run to the end of the file.
    diskEnds_[diskCount_] = fileEnd;
    if (diskCount_ > 0) diskEnds_[diskCount_ - 1] = offset;
    ++diskCount_;
    if (size < kDiskHeaderSize) break;
    offset += size;
    // Bytes after the last disk the reader looks at belong to no disk.
    if (diskCount_ == kMaxDisks) diskEnds_[diskCount_ - 1] = std::min(offset, fileEnd);
  }
  return true;
}

int D88Image::readError() const { return file_->lastError(); }

std::int64_t D88Image::fileSize() const { return file_->size(); }

bool D88Image::selectDisk(std::int32_t index) {
  if (!file_->isOpen()) return false;
  forgetDisk();
  if (index < 0 || index >= diskCount_) return false;

  std::uint8_t header[kDiskHeaderSize];
  if (file_->readAt(diskOffsets_[index], header, kDiskHeaderSize) != kDiskHeaderSize) {
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
  diskEnd_ = diskEnds_[index];
  mediaType_ = header[kMediaTypeOffset];
  writeProtect_ = header[kWriteProtectOffset];
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

// Walks the records of a track from its first, reading the file in few large
// pieces, until the record count of the header just read is reached or a
// header does not lie wholly before the disk's end.
const D88Image::Track* D88Image::track(std::int32_t index) {
  if (!file_->isOpen() || index < 0 || index >= kTrackCount) return nullptr;
  const std::int32_t offset = trackOffsets_[index];
  // A negative entry is a value of 2^31 or more in the file: far beyond any
  // disk this reader accepts, so it is treated as absent like a zero.
  if (offset <= 0 || offset > diskSize_) return nullptr;
  if (const Track* known = cache_->find(index)) return known;

  auto walked = std::make_unique<Track>();
  Track& t = *walked;
  t.start = static_cast<std::int64_t>(diskOffset_) + offset;
  const std::int64_t end = diskEnd_;
  // Makes the track's bytes reach `until` (never beyond the disk's end);
  // returns the file offset they reach, which is less at the end of the file.
  bool fileEnded = false;
  const auto reach = [&](std::int64_t until) {
    until = std::min(until, end);
    std::int64_t have = t.start + static_cast<std::int64_t>(t.bytes.size());
    if (until <= have || fileEnded) return std::min(have, std::max(until, t.start));
    std::int64_t want = std::max<std::int64_t>(
        until - have, std::max<std::int64_t>(kTrackReadAhead, static_cast<std::int64_t>(t.bytes.size())));
    want = std::min(want, end - have);
    const std::size_t old = t.bytes.size();
    t.bytes.resize(old + static_cast<std::size_t>(want));
    const std::int64_t got = file_->readAt(have, t.bytes.data() + old, static_cast<std::size_t>(want));
    const std::int64_t kept = got > 0 ? got : 0;
    t.bytes.resize(old + static_cast<std::size_t>(kept));
    if (kept < want) fileEnded = true;
    have += kept;
    return std::min(have, until);
  };

  std::int64_t position = t.start;
  for (std::int64_t i = 0; end - position >= kSectorHeaderSize; ++i) {
    if (reach(position + kSectorHeaderSize) < position + kSectorHeaderSize) break;
    const std::uint8_t* raw = t.bytes.data() + (position - t.start);
    SectorRecord record{};
    record.id = {raw[kSectorCOffset], raw[kSectorHOffset], raw[kSectorROffset], raw[kSectorNOffset]};
    record.recordCount = readLE16(raw + kSectorCountOffset);
    record.density = raw[kDensityOffset];
    record.deletedMark = raw[kDeletedMarkOffset];
    record.status = raw[kStatusOffset];
    record.dataSize = readLE16(raw + kDataSizeOffset);
    record.headerOffset = position;
    const std::int64_t data = position + kSectorHeaderSize;
    record.dataAvailable = static_cast<std::int32_t>(reach(data + record.dataSize) - data);
    t.records.push_back(record);
    if (i == record.recordCount - 1) break;
    position = data + record.dataSize;
  }
  // Read-ahead past the last record's data is not kept.
  if (!t.records.empty()) {
    const SectorRecord& last = t.records.back();
    const std::int64_t used = last.headerOffset + kSectorHeaderSize + last.dataAvailable - t.start;
    t.bytes.resize(static_cast<std::size_t>(used));
  } else {
    t.bytes.clear();
  }
  t.bytes.shrink_to_fit();

  // A search stops at a header that says its track has no records, and the
  // first record of an identity wins.
  for (std::size_t i = 0; i < t.records.size() && t.records[i].recordCount != 0; ++i) {
    t.searchable.emplace_back(identityKey(t.records[i].id), static_cast<std::uint32_t>(i));
  }
  std::stable_sort(t.searchable.begin(), t.searchable.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  t.searchable.erase(std::unique(t.searchable.begin(), t.searchable.end(),
                                 [](const auto& a, const auto& b) { return a.first == b.first; }),
                     t.searchable.end());
  return cache_->store(index, std::move(walked));
}

const SectorRecord* D88Image::findSector(const Track& t, std::int32_t c, std::int32_t h,
                                         std::int32_t r, std::int32_t n) const {
  std::uint32_t key = 0;
  if (!identityKey(c, h, r, n, &key)) return nullptr;
  const auto at = std::lower_bound(t.searchable.begin(), t.searchable.end(), key,
                                   [](const auto& entry, std::uint32_t k) { return entry.first < k; });
  if (at == t.searchable.end() || at->first != key) return nullptr;
  return &t.records[at->second];
}

std::int32_t D88Image::copyData(const Track& t, const SectorRecord& record, std::uint8_t* buffer,
                                std::int32_t maxBytes) const {
  const std::int32_t length = std::min<std::int32_t>(
      std::min<std::int32_t>(record.dataSize, maxBytes), record.dataAvailable);
  if (length <= 0) return 0;
  const std::int64_t from = record.headerOffset + kSectorHeaderSize - t.start;
  std::memcpy(buffer, t.bytes.data() + from, static_cast<std::size_t>(length));
  return length;
}

std::int32_t D88Image::readSector(std::int32_t track, std::int32_t c, std::int32_t h,
                                  std::int32_t r, std::int32_t n, std::uint8_t* buffer,
                                  std::int32_t maxBytes) {
  if (buffer == nullptr || maxBytes <= 0) return 0;
  const Track* t = this->track(track);
  if (t == nullptr) return 0;
  const SectorRecord* record = findSector(*t, c, h, r, n);
  return record != nullptr ? copyData(*t, *record, buffer, maxBytes) : 0;
}

// Calls visit(address, slotOffset, slotBytes) for each sector of the run of
// totalBytes that starts at `first`, until it returns false. The one place
// where a run's sectors and their slots are worked out.
template <typename Visit>
void D88Image::forEachRunSector(const SectorAddress& first, std::int32_t totalBytes,
                                Visit&& visit) const {
  if (first.n < 0 || first.n > kMaxSizeCode) return;
  const std::int32_t sectorBytes = 128 << first.n;
  SectorAddress at = first;
  for (std::int32_t done = 0; done < totalBytes;) {
    const std::int32_t slot = std::min(sectorBytes, totalBytes - done);
    if (!visit(at, done, slot)) return;
    done += slot;
    at = followingSector(at);
  }
}

std::int32_t D88Image::readSectors(std::int32_t track, std::int32_t c, std::int32_t h,
                                   std::int32_t r, std::int32_t n, std::uint8_t* buffer,
                                   std::int32_t totalBytes) {
  std::int32_t done = 0;
  forEachRunSector({track, c, h, r, n}, totalBytes,
                   [&](const SectorAddress& at, std::int32_t offset, std::int32_t slot) {
                     if (readSector(at.track, at.c, at.h, at.r, at.n, buffer + offset, slot) < slot) {
                       return false;
                     }
                     done = offset + slot;
                     return true;
                   });
  return done;
}

std::vector<SectorOutcome> D88Image::readRun(const SectorAddress& first, std::uint8_t* buffer,
                                             std::int32_t totalBytes) {
  std::vector<SectorOutcome> outcomes;
  if (buffer == nullptr) return outcomes;
  forEachRunSector(first, totalBytes,
                   [&](const SectorAddress& at, std::int32_t offset, std::int32_t slot) {
                     SectorOutcome outcome{at, offset, slot, 0, false, {}};
                     if (const Track* t = track(at.track)) {
                       if (const SectorRecord* record = findSector(*t, at.c, at.h, at.r, at.n)) {
                         outcome.found = true;
                         outcome.record = *record;
                         outcome.bytesRead = copyData(*t, *record, buffer + offset, slot);
                       }
                     }
                     outcomes.push_back(outcome);
                     return true;
                   });
  return outcomes;
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
  const Track* t = this->track(track);
  if (t == nullptr) return 0;
  // A record count of 0 does not end the listing; only the capacity does.
  const std::size_t fit = static_cast<std::size_t>(capacityBytes / kSectorIdSize);
  const std::size_t count = std::min(fit, t->records.size());
  for (std::size_t i = 0; i < count; ++i) {
    const SectorId& id = t->records[i].id;
    std::uint8_t* entry = buffer + kSectorIdSize * i;
    entry[0] = id.c;
    entry[1] = id.h;
    entry[2] = id.r;
    entry[3] = id.n;
  }
  return static_cast<std::int32_t>(count * kSectorIdSize);
}

std::vector<SectorRecord> D88Image::trackRecords(std::int32_t track) {
  const Track* t = this->track(track);
  return t != nullptr ? t->records : std::vector<SectorRecord>();
}

}  // namespace d88
