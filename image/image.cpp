// The reader's façade: the state of one open image and one selected disk,
// and the calls that answer from it. The file is read by the byte source,
// disks are found by the disk directory, tracks are walked by the track walk
// and kept by the track cache; whether the file is a D88 image at all is
// decided once, here, as it is opened.
#include <d88/image.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "byte_source.h"
#include "d88_check.h"
#include "d88_layout.h"
#include "disk_directory.h"
#include "file_sources.h"
#include "image_access.h"
#include "track_cache.h"
#include "track_walk.h"

namespace d88 {
namespace {

// The identity (c, h, r, n) as bytes; false when a part is not a byte.
bool identityOf(const SectorAddress& a, SectorId* id) {
  for (std::int32_t v : {a.c, a.h, a.r, a.n}) {
    if (v < 0 || v > 0xFF) return false;
  }
  *id = SectorId{static_cast<std::uint8_t>(a.c), static_cast<std::uint8_t>(a.h),
                 static_cast<std::uint8_t>(a.r), static_cast<std::uint8_t>(a.n)};
  return true;
}

bool isReadFailure(const Status& s) {
  return s.code() == Status::Code::kIoError || s.code() == Status::Code::kTooLarge ||
         s.code() == Status::Code::kOutOfMemory;
}

const Disk& noDisk() {
  static const Disk none = [] {
    Disk d;
    d.index = -1;
    return d;
  }();
  return none;
}

Disk diskOf(const DiskEntry& entry, int index) {
  const DiskHeaderFields fields = decodeDiskHeader(entry.header.data());
  Disk disk;
  disk.index = index;
  disk.offset = entry.offset;
  disk.end = entry.end;
  disk.name = fields.name;
  disk.writeProtect = fields.writeProtect;
  disk.mediaType = fields.mediaType;
  disk.size = fields.size;
  disk.tracks = fields.tracks;
  return disk;
}

}  // namespace

struct Image::Impl {
  ByteSource source;
  std::vector<Disk> disks;
  Status readFailure;
  Status directoryEnd;
  DirectoryTail directoryTail;

  // The selected disk, -1 for none.
  int selected = -1;
  // Whether two table entries point at one place: only then are walks shared.
  bool sharedStarts = false;
  // File offsets where the selected disk's tracks start, sorted: where one
  // track starts is where the one before it most likely ends.
  std::vector<std::int64_t> trackStarts;
  TrackCache cache;

  const Disk& disk() const {
    return selected >= 0 ? disks[static_cast<std::size_t>(selected)] : noDisk();
  }

  // Passes `s` on, keeping the first failure to get bytes at all.
  Status fail(Status s) {
    if (isReadFailure(s) && readFailure.ok()) readFailure = s;
    return s;
  }

  // Closed, as if new, keeping what storage it has.
  void reset() {
    forgetDisk();
    // With a budget the cache's storage goes with what the budget gets
    // back, so that other images may use it; without one it stays for the
    // next image this object opens.
    if (source.budgeted()) cache.release();
    source.close();
    disks.clear();
    readFailure = Status();
    directoryEnd = Status();
    directoryTail = DirectoryTail();
  }

  void forgetDisk() {
    cache.clear();
    selected = -1;
    sharedStarts = false;
    trackStarts.clear();
  }

  Status select(int index) {
    if (!source.isOpen()) return Status::notOpen();
    forgetDisk();
    if (index < 0 || static_cast<std::size_t>(index) >= disks.size()) {
      return Status::notFound("no disk " + std::to_string(index) + " (the file holds " +
                              std::to_string(disks.size()) + ")");
    }
    selected = index;
    const Disk& d = disk();
    // Walks are shared only between entries that point at one place.
    for (std::uint32_t entry : d.tracks) {
      if (trackEntryInDisk(entry, d.size)) trackStarts.push_back(d.offset + entry);
    }
    std::sort(trackStarts.begin(), trackStarts.end());
    sharedStarts =
        std::adjacent_find(trackStarts.begin(), trackStarts.end()) != trackStarts.end();
    return Status();
  }

  // The walk of `track` (its records up to the first count of 0), walked
  // when first asked for, into *walked; the reason when the track is not
  // there or its walk could not be kept.
  Status track(int index, const CachedTrack** walked) {
    *walked = nullptr;
    if (!source.isOpen()) return Status::notOpen();
    if (selected < 0) return Status::notFound("no disk is selected");
    const Disk& d = disk();
    if (index < 0 || index >= kTrackCount ||
        !trackEntryInDisk(d.tracks[static_cast<std::size_t>(index)], d.size)) {
      return Status::notFound("track " + std::to_string(index) + " is not in the disk");
    }
    if ((*walked = cache.find(index)) != nullptr) return Status();
    const std::int64_t start = d.offset + d.tracks[static_cast<std::size_t>(index)];
    if (sharedStarts && (*walked = cache.share(index, start)) != nullptr) return Status();
    try {
      WalkLimits limits;
      const auto next = std::upper_bound(trackStarts.begin(), trackStarts.end(), start);
      const std::int64_t end = next != trackStarts.end() ? std::min(*next, d.end) : d.end;
      limits.expectedBytes = static_cast<std::size_t>(
          std::min<std::int64_t>(end - start, static_cast<std::int64_t>(kMaxWindowBytes)));
      CachedTrack& fresh = cache.fresh(start);
      walkRecords(source, start, d.end, limits, &fresh.walk);
      if (fresh.walk.end == TrackEnd::kReadError) fail(fresh.walk.error);
      cache.keep(index, fresh);
      *walked = &fresh;
      return Status();
    } catch (const std::bad_alloc&) {
      return fail(Status::outOfMemory("cannot keep the records of track " + std::to_string(index)));
    }
  }

  // Copies up to maxBytes of the record's data into buffer (nothing copied
  // when it is null, *got then says what would be); kCorruption when fewer
  // came than the record has.
  Status copyData(const SectorRecord& record, std::uint8_t* buffer, std::int32_t maxBytes,
                  std::int32_t* got) {
    *got = 0;
    const std::int32_t wanted = std::min<std::int32_t>(record.dataSize, maxBytes);
    const std::int32_t there = std::min(wanted, record.dataAvailable);
    if (there > 0) {
      if (buffer == nullptr) {
        *got = there;
      } else {
        std::size_t copied = 0;
        Status s = source.copy(record.headerOffset + kSectorHeaderSize,
                               static_cast<std::size_t>(there), buffer, &copied);
        *got = static_cast<std::int32_t>(copied);
        if (!s.ok()) return fail(s);
      }
    }
    if (*got < wanted) {
      return Status::corruption("the sector's data is cut off by the end of the disk");
    }
    return Status();
  }

  // Finds `a` in its track into *record; kNotFound when it is not there.
  Status findSector(const SectorAddress& a, const SectorRecord** record) {
    *record = nullptr;
    const CachedTrack* t = nullptr;
    Status s = track(a.track, &t);
    if (!s.ok()) return s;
    SectorId id{};
    if (identityOf(a, &id)) *record = t->find(id);
    if (*record != nullptr) return Status();
    // A walk that a failed read cut short may have missed the sector: the
    // failure is the reason, not its absence.
    return t->walk.end == TrackEnd::kReadError
               ? t->walk.error
               : Status::notFound("no sector at " + sectorAddressText(a));
  }

  // Whether some track of disk 0 holds a record that the reader could take:
  // one of the size its size code gives (at most kMaxPlainSizeCode), with
  // some of its data in the file, as a dump cut off inside it has. Walks
  // every track of it within the walks' bounds; of a stream, only the tracks
  // that start within kCheckWindowBytes, so that junk on a pipe is not read
  // on to the stream's limit. A read that failed on the way, other than a
  // stream's limit, leaves the question open: *failure says why. Leaves no
  // disk selected and nothing of the walks kept.
  bool firstDiskHoldsARecord(Status* failure) {
    bool found = false;
    if (select(0).ok()) {
      const Disk& d = disk();
      for (int t = 0; t < kTrackCount && !found; ++t) {
        const std::uint32_t entry = d.tracks[static_cast<std::size_t>(t)];
        if (!source.seekable() &&
            d.offset + static_cast<std::int64_t>(entry) >= kCheckWindowBytes) {
          continue;
        }
        const CachedTrack* walked = nullptr;
        if (!track(t, &walked).ok()) continue;
        if (walked->walk.end == TrackEnd::kReadError && failure->ok() &&
            walked->walk.error.code() != Status::Code::kTooLarge) {
          *failure = walked->walk.error;
        }
        for (const SectorRecord& r : walked->walk.records) {
          if (r.id.n <= kMaxPlainSizeCode && r.dataSize == sectorBytes(r.id.n) &&
              r.dataAvailable > 0) {
            found = true;
            break;
          }
        }
      }
    }
    forgetDisk();
    return found;
  }

  // Opens `file`, finds its disks and decides whether it is a D88 image.
  Status open(std::unique_ptr<File> file, const OpenOptions& options) {
    source.open(std::move(file), options.maxStreamBytes, options.budget);
    // All that the image keeps besides a stream's copy is taken from the
    // budget at once, so that no other image can leave it short later.
    if (Status room = source.reserve(kImageOverheadBytes); !room.ok()) return fail(room);
    // The raw headers, for the check of the first one.
    std::vector<DiskEntry> entries;
    try {
      Status s = findDisks(source, &entries, &directoryTail);
      if (!s.ok()) {
        // A failure past the disks found stops the search only: those disks
        // read as before, and the failure is kept as why no more were found.
        if (entries.empty()) return fail(s);
        directoryEnd = s;
      }
      disks.reserve(entries.size());
      for (std::size_t k = 0; k < entries.size(); ++k) {
        disks.push_back(diskOf(entries[k], static_cast<int>(k)));
      }
    } catch (const std::bad_alloc&) {
      return fail(Status::outOfMemory("cannot keep the disk headers"));
    }
    if (entries.empty()) return Status();
    std::string why;
    if (!firstHeaderLooksWrong(source, entries.front(), &why)) return Status();
    // What the check reads is the check's own: a read that fails there is
    // not one of the work that follows, which reads afresh.
    const Status before = readFailure;
    Status failure;
    const bool holdsARecord = firstDiskHoldsARecord(&failure);
    readFailure = before;
    if (holdsARecord) return Status();
    if (!failure.ok()) return fail(failure);
    return Status::notD88Image(why + " and no track of its first disk holds a sector record");
  }
};

Status Image::open(const std::string& path, Image* image, const OpenOptions& options) {
  image->close();
  std::unique_ptr<File> file;
  Status s = openSystemFile(path.c_str(), &file);
  if (!s.ok()) return s;
  return openFile(std::move(file), image, options);
}

Status Image::openMemory(const std::uint8_t* data, std::size_t size, Image* image,
                         const OpenOptions& options) {
  if (data == nullptr && size > 0) {
    image->close();
    return Status::notOpen();
  }
  return openFile(memoryFile(data, size), image, options);
}

Status Image::openFile(std::unique_ptr<File> file, Image* image, const OpenOptions& options) {
  image->close();
  if (file == nullptr) return Status::notOpen();
  // An image opened again keeps its storage (the track cache's above all),
  // so that a caller that opens many images in turn allocates once.
  if (!image->impl_) image->impl_ = std::make_unique<Impl>();
  Status s = image->impl_->open(std::move(file), options);
  if (!s.ok()) image->close();
  return s;
}

// An image without an Impl (made so, or moved from) is closed: every call
// below answers as for one.
Image::Image() = default;
Image::~Image() = default;
Image::Image(Image&& other) noexcept : impl_(std::move(other.impl_)) {}
Image& Image::operator=(Image&& other) noexcept {
  impl_ = std::move(other.impl_);
  return *this;
}

void Image::close() {
  if (impl_) impl_->reset();
}

#define D88_IMPL_OR(closed) \
  if (!impl_) return closed

bool Image::isOpen() const { return impl_ && impl_->source.isOpen(); }

std::int64_t Image::fileSize() const { return isOpen() ? impl_->source.size() : -1; }

const std::vector<Disk>& Image::disks() const {
  static const std::vector<Disk> none;
  D88_IMPL_OR(none);
  return impl_->disks;
}

const Status& Image::directoryEnd() const {
  static const Status ok;
  D88_IMPL_OR(ok);
  return impl_->directoryEnd;
}

const DirectoryTail& Image::directoryTail() const {
  static const DirectoryTail none;
  D88_IMPL_OR(none);
  return impl_->directoryTail;
}

const Status& Image::readFailure() const {
  static const Status ok;
  D88_IMPL_OR(ok);
  return impl_->readFailure;
}

Status Image::selectDisk(int index) {
  D88_IMPL_OR(Status::notOpen());
  return impl_->select(index);
}

int Image::selectedDisk() const { return impl_ ? impl_->selected : -1; }

const Disk& Image::disk() const { return impl_ ? impl_->disk() : noDisk(); }

Status Image::readSector(const SectorAddress& at, std::uint8_t* buffer, std::int32_t maxBytes,
                         std::int32_t* got) {
  *got = 0;
  D88_IMPL_OR(Status::notOpen());
  const SectorRecord* record = nullptr;
  Status s = impl_->findSector(at, &record);
  if (!s.ok()) return s;
  if (buffer == nullptr || maxBytes <= 0) return Status();
  return impl_->copyData(*record, buffer, maxBytes, got);
}

std::vector<SectorOutcome> Image::readRun(const SectorAddress& first, const SectorRange& range,
                                          std::uint8_t* buffer, std::int32_t totalBytes) {
  std::vector<SectorOutcome> outcomes;
  if (!impl_ || first.n < 0 || first.n > kMaxSizeCode) return outcomes;
  const std::int32_t nominal = sectorBytes(first.n);
  SectorAddress at = first;
  for (std::int32_t done = 0; done < totalBytes;) {
    const std::int32_t slot = std::min(nominal, totalBytes - done);
    SectorOutcome outcome{at, done, slot, 0, false, {}, Status()};
    const SectorRecord* record = nullptr;
    outcome.status = impl_->findSector(at, &record);
    if (record != nullptr) {
      outcome.found = true;
      outcome.record = *record;
      outcome.status = readRecord(*record, buffer != nullptr ? buffer + done : nullptr, slot,
                                  &outcome.bytesRead);
      if (outcome.status.ok() && outcome.bytesRead < slot) {
        outcome.status = shortRecordStatus(*record, slot);
      }
    }
    outcomes.push_back(std::move(outcome));
    done += slot;
    at = followingSector(at, range);
  }
  return outcomes;
}

Status Image::readRecord(const SectorRecord& record, std::uint8_t* buffer, std::int32_t maxBytes,
                         std::int32_t* got) {
  *got = 0;
  if (!isOpen()) return Status::notOpen();
  if (maxBytes <= 0 || record.dataAvailable <= 0) return Status();
  // Only the bytes the disk holds: a short record is no failure here.
  SectorRecord held = record;
  held.dataSize =
      static_cast<std::uint16_t>(std::min<std::int32_t>(record.dataSize, record.dataAvailable));
  return impl_->copyData(held, buffer, maxBytes, got);
}

Status Image::recordsOf(const SectorAddress& at, std::vector<SectorRecord>* records) {
  records->clear();
  D88_IMPL_OR(Status::notOpen());
  const CachedTrack* t = nullptr;
  Status s = impl_->track(at.track, &t);
  if (!s.ok()) return s;
  SectorId id{};
  if (!identityOf(at, &id)) return Status();
  for (const SectorRecord& record : t->walk.records) {
    if (sameIdentity(record.id, id)) records->push_back(record);
  }
  return t->walk.end == TrackEnd::kReadError ? t->walk.error : Status();
}

Status Image::sameData(const SectorRecord& a, const SectorRecord& b, std::int32_t maxBytes,
                       bool* same) {
  *same = false;
  if (!isOpen()) return Status::notOpen();
  const std::int32_t bytes = std::min(std::max(a.dataAvailable, 0), std::max(maxBytes, 0));
  if (bytes != std::min(std::max(b.dataAvailable, 0), std::max(maxBytes, 0))) return Status();
  if (bytes == 0 || a.headerOffset == b.headerOffset) {
    *same = true;
    return Status();
  }
  std::vector<std::uint8_t> first(static_cast<std::size_t>(bytes));
  std::vector<std::uint8_t> second(static_cast<std::size_t>(bytes));
  std::int32_t got = 0;
  Status s = readRecord(a, first.data(), bytes, &got);
  if (!s.ok() || got != bytes) return s;
  s = readRecord(b, second.data(), bytes, &got);
  if (!s.ok() || got != bytes) return s;
  *same = first == second;
  return Status();
}

Status Image::readBytes(std::int64_t offset, std::uint8_t* buffer, std::size_t size,
                        std::size_t* got) {
  *got = 0;
  if (!isOpen()) return Status::notOpen();
  if (buffer == nullptr || size == 0) return Status();
  return impl_->fail(impl_->source.copy(offset, size, buffer, got));
}

TrackWalk Image::walkTrack(int track) {
  if (!impl_) return TrackWalk();
  const CachedTrack* t = nullptr;
  if (!impl_->track(track, &t).ok() || t == nullptr) return TrackWalk();
  return t->walk;
}

Status ImageAccess::walkPastZeroCounts(Image& image, int track, std::size_t maxRecords,
                                       TrackWalk* onward, const TrackWalk** walk) {
  *walk = nullptr;
  if (!image.impl_) return Status::notOpen();
  Image::Impl& m = *image.impl_;
  const CachedTrack* t = nullptr;
  Status s = m.track(track, &t);
  if (!s.ok()) return s;
  *walk = &t->walk;
  if (t->walk.end != TrackEnd::kZeroCount || maxRecords <= t->walk.records.size()) {
    return Status();
  }
  // A record count of 0 does not end this walk: it goes on, within the
  // bounds given, read afresh and not kept.
  *onward = TrackWalk();
  try {
    WalkLimits limits;
    limits.maxRecords = std::min<std::size_t>(maxRecords, kMaxTrackRecords);
    limits.stopAtZeroCount = false;
    walkRecords(m.source, t->start, m.disk().end, limits, onward);
  } catch (const std::bad_alloc&) {
    return m.fail(Status::outOfMemory("cannot list track " + std::to_string(track)));
  }
  *walk = onward;
  if (onward->end == TrackEnd::kReadError) return m.fail(onward->error);
  return Status();
}

int sameRecordsAs(const Disk& disk, int track) {
  if (track < 0 || track >= kTrackCount) return -1;
  const std::uint32_t entry = disk.tracks[static_cast<std::size_t>(track)];
  if (!trackEntryInDisk(entry, disk.size)) return -1;
  for (int earlier = 0; earlier < track; ++earlier) {
    if (disk.tracks[static_cast<std::size_t>(earlier)] == entry) return earlier;
  }
  return -1;
}

}  // namespace d88
