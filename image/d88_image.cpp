// The reader's façade: the state of one open image and one selected disk,
// and the calls that answer from it. The file is read by the byte source,
// disks are found by the disk directory, tracks are walked by the track walk
// and kept by the track cache.
#include <d88/d88_image.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "byte_source.h"
#include "d88_layout.h"
#include "disk_directory.h"
#include "track_cache.h"
#include "track_walk.h"

namespace d88 {
namespace {

// r + 1 and the like without signed overflow, whatever a caller passed in.
std::int32_t plusOne(std::int32_t v) {
  return v == INT32_MAX ? INT32_MIN : v + 1;
}

// The identity (c, h, r, n) as bytes; false when a part is not a byte.
bool identityOf(std::int32_t c, std::int32_t h, std::int32_t r, std::int32_t n, SectorId* id) {
  for (std::int32_t v : {c, h, r, n}) {
    if (v < 0 || v > 0xFF) return false;
  }
  *id = SectorId{static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(h),
                 static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(n)};
  return true;
}

// Calls visit(address, slotOffset, slotBytes) for each sector of the run of
// totalBytes that starts at `first`, until it returns false. The one place
// where a run's sectors and their slots are worked out.
template <typename Visit>
void forEachRunSector(const SectorAddress& first, const SectorRange& range,
                      std::int32_t totalBytes, Visit&& visit) {
  if (first.n < 0 || first.n > kMaxSizeCode) return;
  const std::int32_t nominal = sectorBytes(first.n);
  SectorAddress at = first;
  for (std::int32_t done = 0; done < totalBytes;) {
    const std::int32_t slot = std::min(nominal, totalBytes - done);
    if (!visit(at, done, slot)) return;
    done += slot;
    at = followingSector(at, range);
  }
}

}  // namespace

bool trackEntryInDisk(std::uint32_t entry, std::uint32_t diskSize) {
  return entry != 0 && entry <= diskSize;
}

std::string sectorAddressText(const SectorAddress& a) {
  char text[96];
  std::snprintf(text, sizeof text, "track %d (C %d, H %d, R %d, N %d)", static_cast<int>(a.track),
                static_cast<int>(a.c), static_cast<int>(a.h), static_cast<int>(a.r),
                static_cast<int>(a.n));
  return text;
}

bool isMarkedBad(std::uint8_t status) {
  return status != kStatusNormal && status != kStatusDeletedData;
}

bool isDeletedData(const SectorRecord& record) {
  return record.status == kStatusDeletedData || record.deletedMark == kDeletedDataMark;
}

std::int32_t sectorBytes(int n) {
  return n >= 0 && n <= kMaxSizeCode ? std::int32_t{128} << n : 0;
}

bool isSoundRecord(const SectorRecord& record) {
  const std::int32_t nominal = sectorBytes(record.id.n);
  return nominal > 0 && record.dataAvailable >= nominal && !isMarkedBad(record.status);
}

bool sameIdentity(const SectorId& a, const SectorId& b) {
  return a.c == b.c && a.h == b.h && a.r == b.r && a.n == b.n;
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

SectorAddress followingSector(const SectorAddress& at, const SectorRange& range) {
  SectorAddress next = at;
  if (at.r == range.last) {
    next.track = plusOne(at.track);
    if (at.h == 0) {
      next.h = 1;
    } else {
      next.h = 0;
      next.c = plusOne(at.c);
    }
    next.r = range.first;
  } else {
    next.r = plusOne(at.r);
  }
  return next;
}

struct D88Image::Impl {
  ByteSource source;
  std::vector<DiskEntry> disks;
  Status status;
  Status readFailure;
  Status directoryStatus;
  int openError = 0;
  SectorRange range{1, 16};

  // The selected disk.
  std::int32_t mediaType = -1;
  std::int32_t writeProtect = -1;
  std::int64_t diskOffset = 0;
  std::uint32_t diskSize = 0;
  std::int64_t diskEnd = 0;
  std::array<std::uint32_t, kTrackCount> trackOffsets{};
  char name[kNameLength + 1] = {};
  // Whether two table entries point at one place: only then are walks shared.
  bool sharedStarts = false;
  // File offsets where the selected disk's tracks start, sorted: where one
  // track starts is where the one before it most likely ends.
  std::vector<std::int64_t> trackStarts;
  TrackCache cache;
  std::uint64_t recordsWalked = 0;

  // Keeps `s` as the reason of the last failure; a failure to get bytes at
  // all is also kept as readFailure, the first of them.
  void fail(const Status& s) {
    status = s;
    const bool readFailed = s.code() == Status::Code::kIoError ||
                            s.code() == Status::Code::kTooLarge ||
                            s.code() == Status::Code::kOutOfMemory;
    if (readFailed && readFailure.ok()) readFailure = s;
  }

  void forgetDisk() {
    cache.clear();
    diskOffset = -1;
    mediaType = -1;
    writeProtect = -1;
    diskSize = 0;
    diskEnd = 0;
    sharedStarts = false;
    trackStarts.clear();
    std::memset(name, 0, sizeof name);
  }

  // The walk of `track` (its records up to the first count of 0), walked
  // when first asked for; nullptr, with the reason kept, when the track is
  // not there or its walk could not be kept.
  const CachedTrack* track(std::int32_t index) {
    if (!source.isOpen()) {
      fail(Status::notOpen());
      return nullptr;
    }
    if (index < 0 || index >= kTrackCount ||
        !trackEntryInDisk(trackOffsets[static_cast<std::size_t>(index)], diskSize)) {
      fail(Status::notFound("track " + std::to_string(index) + " is not in the disk"));
      return nullptr;
    }
    if (const CachedTrack* kept = cache.find(index)) return kept;
    const std::int64_t start = diskOffset + trackOffsets[static_cast<std::size_t>(index)];
    if (sharedStarts) {
      if (const CachedTrack* kept = cache.share(index, start)) return kept;
    }
    try {
      WalkLimits limits;
      const auto next = std::upper_bound(trackStarts.begin(), trackStarts.end(), start);
      const std::int64_t end = next != trackStarts.end() ? std::min(*next, diskEnd) : diskEnd;
      limits.expectedBytes = static_cast<std::size_t>(
          std::min<std::int64_t>(end - start, static_cast<std::int64_t>(kMaxWindowBytes)));
      CachedTrack& walked = cache.fresh(start);
      walkRecords(source, start, diskEnd, limits, &walked.walk);
      recordsWalked += walked.walk.records.size();
      if (walked.walk.end == TrackEnd::kReadError) fail(walked.walk.error);
      cache.keep(index, walked);
      return &walked;
    } catch (const std::bad_alloc&) {
      fail(Status::outOfMemory("cannot keep the records of track " + std::to_string(index)));
      return nullptr;
    }
  }

  // Copies up to maxBytes of the record's data; returns the bytes copied and
  // keeps the reason when fewer came than the record has.
  std::int32_t copyData(const SectorRecord& record, std::uint8_t* buffer, std::int32_t maxBytes) {
    const std::int32_t wanted = std::min<std::int32_t>(record.dataSize, maxBytes);
    const std::int32_t there = std::min(wanted, record.dataAvailable);
    std::size_t got = 0;
    if (there > 0) {
      if (buffer == nullptr) {
        got = static_cast<std::size_t>(there);
      } else {
        Status s = source.copy(record.headerOffset + kSectorHeaderSize,
                               static_cast<std::size_t>(there), buffer, &got);
        if (!s.ok()) {
          fail(s);
          return static_cast<std::int32_t>(got);
        }
      }
    }
    if (static_cast<std::int32_t>(got) < wanted) {
      fail(Status::corruption("the sector's data is cut off by the end of the disk"));
    }
    return static_cast<std::int32_t>(got);
  }

  // Finds (c, h, r, n) in `track`; nullptr, with the reason kept, when it is not there.
  const SectorRecord* findSector(const SectorAddress& a) {
    const CachedTrack* t = track(a.track);
    if (t == nullptr) return nullptr;
    SectorId id{};
    const SectorRecord* record = identityOf(a.c, a.h, a.r, a.n, &id) ? t->find(id) : nullptr;
    if (record == nullptr) {
      // A walk that a failed read cut short may have missed the sector: the
      // failure is the reason, not its absence.
      fail(t->walk.end == TrackEnd::kReadError
               ? t->walk.error
               : Status::notFound("no sector at " + sectorAddressText(a)));
    }
    return record;
  }
};

D88Image::D88Image() : impl_(new Impl) {}

D88Image::~D88Image() = default;

bool D88Image::open(const char* path) {
  Impl& m = *impl_;
  // Nothing of an earlier file may leak into what is said about this one.
  m.source.close();
  m.forgetDisk();
  m.diskOffset = 0;
  m.trackOffsets.fill(0);
  m.disks.clear();
  m.status = Status();
  m.readFailure = Status();
  m.directoryStatus = Status();
  m.openError = 0;
  m.recordsWalked = 0;
  if (path == nullptr) return true;
  m.openError = m.source.open(path);
  if (m.openError != 0) {
    m.status = Status::ioError(m.openError, "cannot open the image");
    return false;
  }
  try {
    Status s = findDisks(m.source, &m.disks);
    // A failure past the disks found stops the search only: those disks
    // read as before, and the failure is kept as why no more were found.
    if (!s.ok() && m.disks.empty()) m.fail(s);
    if (!s.ok()) {
      m.status = s;
      m.directoryStatus = s;
    }
  } catch (const std::bad_alloc&) {
    m.fail(Status::outOfMemory("cannot keep the disk headers"));
  }
  return true;
}

const Status& D88Image::status() const { return impl_->status; }

const Status& D88Image::readFailure() const { return impl_->readFailure; }

const Status& D88Image::directoryStatus() const { return impl_->directoryStatus; }

int D88Image::openError() const { return impl_->openError; }

int D88Image::readError() const { return impl_->readFailure.errnum(); }

std::int64_t D88Image::fileSize() const {
  return impl_->source.isOpen() ? impl_->source.size() : -1;
}

bool D88Image::selectDisk(std::int32_t index) {
  Impl& m = *impl_;
  if (!m.source.isOpen()) {
    m.fail(Status::notOpen());
    return false;
  }
  m.forgetDisk();
  if (index < 0 || index >= diskCount()) {
    m.fail(Status::notFound("no disk " + std::to_string(index) + " (the file holds " +
                            std::to_string(diskCount()) + ")"));
    return false;
  }
  const DiskEntry& disk = m.disks[static_cast<std::size_t>(index)];
  const DiskHeaderFields fields = decodeDiskHeader(disk.header.data());
  m.diskOffset = disk.offset;
  m.diskEnd = disk.end;
  m.mediaType = fields.mediaType;
  m.writeProtect = fields.writeProtect;
  m.diskSize = fields.size;
  m.trackOffsets = fields.tracks;
  std::memcpy(m.name, fields.name, sizeof m.name);
  // Walks are shared only between entries that point at one place.
  for (std::uint32_t entry : m.trackOffsets) {
    if (trackEntryInDisk(entry, m.diskSize)) m.trackStarts.push_back(m.diskOffset + entry);
  }
  std::sort(m.trackStarts.begin(), m.trackStarts.end());
  m.sharedStarts =
      std::adjacent_find(m.trackStarts.begin(), m.trackStarts.end()) != m.trackStarts.end();
  return true;
}

void D88Image::setSectorRange(std::int32_t first, std::int32_t last) {
  impl_->range = SectorRange{first, last};
}

std::int32_t D88Image::diskCount() const { return static_cast<std::int32_t>(impl_->disks.size()); }
std::int32_t D88Image::currentDisk() const { return -1; }
std::int32_t D88Image::mediaType() const { return impl_->mediaType; }
std::int32_t D88Image::writeProtect() const { return impl_->writeProtect; }
std::int64_t D88Image::diskOffset() const { return impl_->diskOffset; }
std::uint32_t D88Image::diskSize() const { return impl_->diskSize; }
std::int64_t D88Image::diskEnd() const { return impl_->diskEnd; }
const char* D88Image::diskName() const { return impl_->name; }

std::uint32_t D88Image::trackOffset(std::int32_t track) const {
  return track >= 0 && track < kTrackCount ? impl_->trackOffsets[static_cast<std::size_t>(track)]
                                           : 0;
}

std::int32_t D88Image::readSector(std::int32_t track, std::int32_t c, std::int32_t h,
                                  std::int32_t r, std::int32_t n, std::uint8_t* buffer,
                                  std::int32_t maxBytes) {
  if (buffer == nullptr || maxBytes <= 0) return 0;
  const SectorRecord* record = impl_->findSector({track, c, h, r, n});
  return record != nullptr ? impl_->copyData(*record, buffer, maxBytes) : 0;
}

std::int32_t D88Image::readSectors(std::int32_t track, std::int32_t c, std::int32_t h,
                                   std::int32_t r, std::int32_t n, std::uint8_t* buffer,
                                   std::int32_t totalBytes) {
  std::int32_t done = 0;
  if (buffer == nullptr) return 0;
  forEachRunSector({track, c, h, r, n}, impl_->range, totalBytes,
                   [&](const SectorAddress& at, std::int32_t offset, std::int32_t slot) {
                     if (readSector(at.track, at.c, at.h, at.r, at.n, buffer + offset, slot) < slot) {
                       return false;
                     }
                     done = offset + slot;
                     return true;
                   });
  return done;
}

std::vector<SectorOutcome> D88Image::readRun(const SectorAddress& first, const SectorRange& range,
                                             std::uint8_t* buffer, std::int32_t totalBytes) {
  std::vector<SectorOutcome> outcomes;
  forEachRunSector(first, range, totalBytes,
                   [&](const SectorAddress& at, std::int32_t offset, std::int32_t slot) {
                     SectorOutcome outcome{at, offset, slot, 0, false, {}, Status()};
                     if (const SectorRecord* record = impl_->findSector(at)) {
                       takeRecord(*record, buffer != nullptr ? buffer + offset : nullptr,
                                  &outcome);
                     } else {
                       outcome.status = impl_->status;
                     }
                     outcomes.push_back(std::move(outcome));
                     return true;
                   });
  return outcomes;
}

std::int32_t D88Image::readRecord(const SectorRecord& record, std::uint8_t* buffer,
                                  std::int32_t maxBytes) {
  if (buffer == nullptr || maxBytes <= 0 || record.dataAvailable <= 0) return 0;
  if (!impl_->source.isOpen()) {
    impl_->fail(Status::notOpen());
    return 0;
  }
  // Only the bytes the disk holds: a short record is no failure here.
  SectorRecord held = record;
  held.dataSize = static_cast<std::uint16_t>(std::min<std::int32_t>(record.dataSize,
                                                                    record.dataAvailable));
  return impl_->copyData(held, buffer, maxBytes);
}

void D88Image::takeRecord(const SectorRecord& record, std::uint8_t* slot,
                          SectorOutcome* outcome) {
  const std::int32_t wanted = std::max(outcome->slotBytes, 0);
  outcome->found = true;
  outcome->record = record;
  outcome->status = Status();
  outcome->bytesRead = impl_->copyData(record, slot, wanted);
  // A record smaller than its size code says is short too.
  if (outcome->bytesRead < wanted && record.dataSize < wanted) {
    impl_->fail(Status::corruption("the sector holds " + std::to_string(record.dataSize) +
                                   " of " + std::to_string(wanted) + " bytes"));
  }
  if (outcome->bytesRead < wanted) outcome->status = impl_->status;
}

std::vector<SectorRecord> D88Image::recordsOf(const SectorAddress& at) {
  std::vector<SectorRecord> copies;
  SectorId id{};
  if (!identityOf(at.c, at.h, at.r, at.n, &id)) return copies;
  const CachedTrack* t = impl_->track(at.track);
  if (t == nullptr) return copies;
  for (const SectorRecord& record : t->walk.records) {
    if (sameIdentity(record.id, id)) copies.push_back(record);
  }
  return copies;
}

bool D88Image::sameData(const SectorRecord& a, const SectorRecord& b, std::int32_t maxBytes) {
  const std::int32_t bytes = std::min(std::max(a.dataAvailable, 0), std::max(maxBytes, 0));
  if (bytes != std::min(std::max(b.dataAvailable, 0), std::max(maxBytes, 0))) return false;
  if (bytes == 0 || a.headerOffset == b.headerOffset) return true;
  std::vector<std::uint8_t> first(static_cast<std::size_t>(bytes));
  std::vector<std::uint8_t> second(static_cast<std::size_t>(bytes));
  return readRecord(a, first.data(), bytes) == bytes &&
         readRecord(b, second.data(), bytes) == bytes && first == second;
}

std::size_t D88Image::readBytes(std::int64_t offset, std::uint8_t* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  if (!impl_->source.isOpen()) {
    impl_->fail(Status::notOpen());
    return 0;
  }
  std::size_t got = 0;
  const Status s = impl_->source.copy(offset, size, buffer, &got);
  if (!s.ok()) impl_->fail(s);
  return got;
}

TrackWalk D88Image::walkTrack(std::int32_t track) {
  const CachedTrack* t = impl_->track(track);
  return t != nullptr ? t->walk : TrackWalk();
}

std::vector<SectorRecord> D88Image::trackRecords(std::int32_t track, std::size_t maxRecords) {
  const CachedTrack* t = impl_->track(track);
  if (t == nullptr) return {};
  const std::vector<SectorRecord>& records = t->walk.records;
  return std::vector<SectorRecord>(
      records.begin(), records.begin() + static_cast<std::ptrdiff_t>(
                                             std::min(maxRecords, records.size())));
}

std::int32_t D88Image::listSectorIds(std::int32_t track, std::uint8_t* buffer,
                                     std::int32_t capacityBytes) {
  if (buffer == nullptr || capacityBytes < kSectorIdSize) return 0;
  Impl& m = *impl_;
  const CachedTrack* t = m.track(track);
  if (t == nullptr) return 0;
  const std::size_t capacity = static_cast<std::size_t>(capacityBytes / kSectorIdSize);
  const std::vector<SectorRecord>* records = &t->walk.records;
  // A record count of 0 does not end this listing: the walk goes on, within
  // the capacity and the cap, read afresh and not kept.
  TrackWalk onward;
  if (t->walk.end == TrackEnd::kZeroCount && capacity > records->size()) {
    try {
      WalkLimits limits;
      limits.maxRecords = std::min<std::size_t>(capacity, kMaxTrackRecords);
      limits.stopAtZeroCount = false;
      walkRecords(m.source, t->start, m.diskEnd, limits, &onward);
    } catch (const std::bad_alloc&) {
      m.fail(Status::outOfMemory("cannot list track " + std::to_string(track)));
      return 0;
    }
    m.recordsWalked += onward.records.size();
    if (onward.end == TrackEnd::kReadError) m.fail(onward.error);
    records = &onward.records;
  }
  const std::size_t listed = std::min(capacity, records->size());
  for (std::size_t i = 0; i < listed; ++i) {
    const SectorId& id = (*records)[i].id;
    std::uint8_t* entry = buffer + kSectorIdSize * i;
    entry[0] = id.c;
    entry[1] = id.h;
    entry[2] = id.r;
    entry[3] = id.n;
  }
  return static_cast<std::int32_t>(listed * kSectorIdSize);
}

TrackCounts D88Image::countTracks() {
  TrackCounts counts;
  std::array<int, kMaxTrackRecords + 1> tracksWithRecords{};
  std::array<std::uint32_t, 256> recordsWithSizeCode{};
  for (std::int32_t t = 0; t < kTrackCount; ++t) {
    if (!trackEntryInDisk(trackOffset(t), diskSize())) continue;
    const CachedTrack* walked = impl_->track(t);
    if (walked == nullptr || walked->walk.records.empty()) continue;
    const std::size_t records = walked->walk.records.size();
    const int count = static_cast<int>(records);
    counts.minRecords = counts.tracks == 0 ? count : std::min(counts.minRecords, count);
    counts.maxRecords = std::max(counts.maxRecords, count);
    ++counts.tracks;
    ++tracksWithRecords[records];
    counts.lastTrack = t;
    counts.twoSided = counts.twoSided || (t & 1) != 0;
    for (const SectorRecord& record : walked->walk.records) ++recordsWithSizeCode[record.id.n];
  }
  // The first index of the largest count: the smallest value on a tie.
  const auto usual = [](const auto& histogram) {
    return static_cast<int>(std::max_element(histogram.begin(), histogram.end()) -
                            histogram.begin());
  };
  if (counts.tracks > 0) {
    counts.usualRecords = usual(tracksWithRecords);
    counts.usualSizeCode = usual(recordsWithSizeCode);
  }
  for (std::size_t n = 0; n < recordsWithSizeCode.size(); ++n) {
    if (recordsWithSizeCode[n] != 0) counts.sizeCodes.push_back(static_cast<int>(n));
  }
  return counts;
}

std::string trackCountsText(const TrackCounts& counts) {
  std::string text = std::to_string(counts.tracks) + " track" + (counts.tracks == 1 ? "" : "s");
  if (counts.tracks == 0) return text;
  text += ", " + std::to_string(counts.minRecords);
  if (counts.maxRecords != counts.minRecords) text += "-" + std::to_string(counts.maxRecords);
  text += " sectors/track, N ";
  for (std::size_t i = 0; i < counts.sizeCodes.size(); ++i) {
    if (i != 0) text += ",";
    text += std::to_string(counts.sizeCodes[i]);
  }
  return text;
}

SectorAddress D88Image::followingSector(const SectorAddress& at) const {
  return d88::followingSector(at, impl_->range);
}

ReaderStats D88Image::stats() const {
  ReaderStats s;
  s.readCalls = impl_->source.readCalls();
  s.bytesRead = impl_->source.bytesRead();
  s.bytesHeld = impl_->source.bytesHeld();
  s.recordsWalked = impl_->recordsWalked;
  s.recordsKept = impl_->cache.recordsKept();
  return s;
}

}  // namespace d88
