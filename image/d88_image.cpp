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
// A track read on its own (not as part of a sequential pass) is read in one
// piece as far as where the next track starts, but no further than this; a
// track longer than that is read on in pieces that double each time.
constexpr std::int64_t kTrackReadLimit = 64 * 1024;
// A pass that asks for the tracks one after the other is read ahead in
// pieces of this many bytes, so that one read serves many tracks, yet the
// buffer stays in the processor's cache.
constexpr std::int64_t kSequentialReadAhead = 256 * 1024;
// Bytes the cache holds for the selected disk at most (the file's bytes and
// the walked records), beyond the track being walked; a damaged disk whose
// tracks overlap would otherwise keep its records many times.
constexpr std::size_t kCacheBudget = 16 * 1024 * 1024;
// A piece of the file never grows beyond this. A walk that runs on past it
// (a record count of 0, data sizes that skip far ahead) reads its headers
// through a small window instead, and the data of such records is read from
// the file when asked for: memory follows the records walked, not the bytes
// they skip.
constexpr std::int64_t kMaxPieceBytes = 1024 * 1024;
// The window through which headers past a piece are read: headers close
// together share one read; after a long record, a header is read alone.
constexpr std::int64_t kHeaderWindow = 64 * 1024;
constexpr std::int64_t kLongRecord = 4096;

// r + 1 and the like without signed overflow, whatever a caller passed in.
std::int32_t plusOne(std::int32_t v) {
  return asSigned32(static_cast<std::uint32_t>(v) + 1u);
}

std::uint32_t identityKey(const SectorId& id) {
  return static_cast<std::uint32_t>(id.c) << 24 | static_cast<std::uint32_t>(id.h) << 16 |
         static_cast<std::uint32_t>(id.r) << 8 | id.n;
}

// C, H, R, N in one number for searching; false when a part is not a byte.
bool identityKey(std::int32_t c, std::int32_t h, std::int32_t r, std::int32_t n,
                 std::uint32_t* key) {
  for (std::int32_t v : {c, h, r, n}) {
    if (v < 0 || v > 0xFF) return false;
  }
  *key = identityKey(SectorId{static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(h),
                              static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(n)});
  return true;
}

}  // namespace

bool isMarkedBad(std::uint8_t status) {
  return status != kStatusNormal && status != kStatusDeletedData;
}

bool isDeletedData(const SectorRecord& record) {
  return record.status == kStatusDeletedData || record.deletedMark == kDeletedDataMark;
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

// One walked track: where its records and its search index stand in the
// cache's shared arrays, and which piece of the file holds its bytes.
struct D88Image::Track {
  bool walked = false;
  std::int64_t start = 0;  // file offset of the first record
  // Where the walk stopped caching, at a record whose count is 0: a search
  // ends there, a listing goes on from `next` (record `recordCount` of the
  // track). -1 when the cached records are the whole walk.
  std::int64_t next = -1;
  std::uint32_t piece = 0;
  std::size_t firstRecord = 0;
  std::size_t recordCount = 0;
  // (identity, record index) of the first record of each identity that a
  // search reaches, sorted by identity.
  std::size_t firstKey = 0;
  std::size_t keyCount = 0;
};

// Bytes of the file from `start`, read in one piece and extended at its end.
struct D88Image::Piece {
  std::int64_t start = 0;
  std::unique_ptr<std::uint8_t[]> bytes;
  std::size_t size = 0;
  std::size_t capacity = 0;
  bool ended = false;  // a read came up short: the file ends at start + size
};

// The walked tracks of the selected disk and the pieces of the file they
// were walked in, within a byte budget. Records and search entries of all
// tracks share two arrays, so a walk allocates nothing once they have grown.
class D88Image::TrackCache {
 public:
  Track& slot(std::int32_t index) { return tracks_[static_cast<std::size_t>(index)]; }
  const std::vector<SectorRecord>& records() const { return records_; }
  std::vector<SectorRecord>& records() { return records_; }
  std::vector<std::pair<std::uint32_t, std::uint32_t>>& keys() { return keys_; }
  const std::vector<std::pair<std::uint32_t, std::uint32_t>>& keys() const { return keys_; }
  std::vector<Piece>& pieces() { return pieces_; }
  // The piece made last; nullptr when there is none.
  const Piece* newestPiece() const { return pieces_.empty() ? nullptr : &pieces_[newest_]; }
  std::uint32_t newestIndex() const { return newest_; }

  // An empty piece for the bytes from `start`, made the newest. There is one
  // read-ahead piece at a time: a new one takes the place (and the storage)
  // of the one before, whose tracks are walked again when next asked for, so
  // that a long pass reads into one buffer that stays in the processor's
  // cache. Any other piece is added.
  std::uint32_t newPiece(std::int64_t start, bool readAhead) {
    std::size_t at = pieces_.size();
    if (readAhead && readAhead_ < pieces_.size()) {
      at = readAhead_;
      for (Track& t : tracks_) {
        if (t.walked && t.piece == at) t = Track();
      }
    } else {
      pieces_.emplace_back();
      // The read-ahead storage of the disk selected before is used again.
      if (readAhead) {
        pieces_.back() = std::move(spare_);
        spare_ = Piece();
      }
    }
    if (readAhead) readAhead_ = at;
    Piece& piece = pieces_[at];
    piece.start = start;
    piece.size = 0;
    piece.ended = false;
    newest_ = static_cast<std::uint32_t>(at);
    return newest_;
  }
  const Piece& piece(const Track& t) const { return pieces_[t.piece]; }
  // A walked track that starts at file offset `start`; nullptr when none is.
  const Track* walkedFrom(std::int64_t start) const {
    for (const Track& t : tracks_) {
      if (t.walked && t.start == start) return &t;
    }
    return nullptr;
  }

  // Forgets everything when what is held has reached the budget.
  void keepWithinBudget() {
    std::size_t held = records_.capacity() * sizeof(SectorRecord) +
                       keys_.capacity() * sizeof(keys_[0]);
    for (const Piece& piece : pieces_) held += piece.capacity;
    if (held >= kCacheBudget) clear();
  }
  void clear() {
    for (Track& t : tracks_) t = Track();
    // The read-ahead storage is kept for the next pass while it is of the
    // usual size; one grown by a long track is given back.
    if (readAhead_ < pieces_.size() &&
        pieces_[readAhead_].capacity <= static_cast<std::size_t>(kSequentialReadAhead)) {
      spare_ = std::move(pieces_[readAhead_]);
    }
    readAhead_ = kNone;
    // The shared arrays keep their storage while it is small: the next disk
    // needs about as much. A large one from a damaged disk is given back.
    records_.clear();
    keys_.clear();
    if (records_.capacity() * sizeof(SectorRecord) > kCacheBudget / 4) {
      records_.shrink_to_fit();
      keys_.shrink_to_fit();
    }
    pieces_.clear();
  }

 private:
  std::array<Track, kTrackCount> tracks_;
  std::vector<SectorRecord> records_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> keys_;
  std::vector<Piece> pieces_;
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t readAhead_ = kNone;  // the read-ahead piece, kNone when there is none
  std::uint32_t newest_ = 0;
  Piece spare_;  // storage for the next read-ahead piece
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
  trackStarts_.clear();
  sharedStarts_ = false;
  // The first track asked for after a selection starts a pass when it is
  // track 0; any other is read on its own.
  lastWalked_ = -1;
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
  headers_.clear();
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
    // Each header is kept: selecting a disk then needs no read.
    const std::size_t kept = headers_.size();
    headers_.resize(kept + kDiskHeaderSize);
    std::uint8_t* header = headers_.data() + kept;
    if (file_->readAt(offset, header, kDiskHeaderSize) != kDiskHeaderSize) {
      headers_.resize(kept);
      break;
    }
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

  const std::uint8_t* header = headers_.data() + static_cast<std::size_t>(index) * kDiskHeaderSize;

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
  for (std::int32_t offset : trackOffsets_) {
    if (offset > 0 && offset <= diskSize_) trackStarts_.push_back(std::int64_t{diskOffset_} + offset);
  }
  std::sort(trackStarts_.begin(), trackStarts_.end());
  sharedStarts_ = std::adjacent_find(trackStarts_.begin(), trackStarts_.end()) != trackStarts_.end();
  return true;
}

void D88Image::setSectorRange(std::int32_t first, std::int32_t last) {
  firstSector_ = first;
  lastSector_ = last;
}

// Walks the records of a track from its first until the record count of the
// header just read is reached or a header does not lie wholly before the
// disk's end. The walk takes its bytes from the piece of the file read last
// when the track starts inside it and ends before it does; otherwise it reads
// a piece of its own: as far as the next track's start, or well ahead when
// the tracks are asked for one after the other.
const D88Image::Track* D88Image::track(std::int32_t index) {
  if (!file_->isOpen() || index < 0 || index >= kTrackCount) return nullptr;
  const std::int32_t offset = trackOffsets_[index];
  // A negative entry is a value of 2^31 or more in the file: far beyond any
  // disk this reader accepts, so it is treated as absent like a zero.
  if (offset <= 0 || offset > diskSize_) return nullptr;
  if (cache_->slot(index).walked) return &cache_->slot(index);
  const std::int64_t start = static_cast<std::int64_t>(diskOffset_) + offset;
  // Table entries that point at the same place share one walk.
  if (const Track* same = sharedStarts_ ? cache_->walkedFrom(start) : nullptr) {
    cache_->slot(index) = *same;
    return &cache_->slot(index);
  }
  // Whatever the tracks claim, what is kept stays near the budget: a walk
  // starts only when what is held is below it.
  cache_->keepWithinBudget();
  Track& t = cache_->slot(index);

  const bool sequential = index == lastWalked_ + 1;
  lastWalked_ = index;
  const std::int64_t end = diskEnd_;
  if (const Piece* last = cache_->newestPiece()) {
    if (start >= last->start && start < last->start + static_cast<std::int64_t>(last->size) &&
        walkTrack(t, cache_->newestIndex(), start, false)) {
      return &t;
    }
  }
  // Where this track most likely ends: where the next track in the file starts.
  const auto next = std::upper_bound(trackStarts_.begin(), trackStarts_.end(), start);
  std::int64_t want = std::min(next != trackStarts_.end() ? *next : end, end) - start;
  want = std::min(want, kTrackReadLimit);
  if (sequential) want = std::max(want, kSequentialReadAhead);
  const std::uint32_t at = cache_->newPiece(start, sequential);
  readInto(cache_->pieces()[at], std::max<std::int64_t>(want, kSectorHeaderSize));
  walkTrack(t, at, start, true);
  return &t;
}

// Makes `piece` hold `count` bytes from its start, fewer where the disk or
// the file ends first. A piece only grows at its end, so the offsets into it
// that walked tracks keep stay valid.
void D88Image::readInto(Piece& piece, std::int64_t count) {
  const std::int64_t have = static_cast<std::int64_t>(piece.size);
  count = std::min(count, diskEnd_ - piece.start);
  if (count <= have || piece.ended) return;
  const std::size_t wanted = static_cast<std::size_t>(count);
  if (wanted > piece.capacity) {
    std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[wanted]);
    if (piece.size > 0) std::memcpy(grown.get(), piece.bytes.get(), piece.size);
    piece.bytes = std::move(grown);
    piece.capacity = wanted;
  }
  const std::int64_t got =
      file_->readAt(piece.start + have, piece.bytes.get() + have, wanted - piece.size);
  const std::int64_t kept = got > 0 ? got : 0;
  piece.size += static_cast<std::size_t>(kept);
  if (kept < count - have) piece.ended = true;
}

// Walks records from file offset `position`, record `index` of its track, in
// `piece`, appending them to `out`: until the record count of the header just
// read is reached, a header does not lie wholly before the disk's end, `limit`
// records are out, or (with `stopAtEmpty`) after a header whose record count
// is 0. With `mayRead` false the walk gives up where the piece ends before the
// track does; otherwise the piece is read on, up to kMaxPieceBytes, and
// headers beyond that are read through a window.
D88Image::WalkEnd D88Image::walkRecords(Piece& piece, std::int64_t position, std::int64_t index,
                                        bool mayRead, bool stopAtEmpty, std::size_t limit,
                                        std::vector<SectorRecord>& out, std::int64_t* next) {
  const std::int64_t start = position;
  const std::int64_t end = diskEnd_;
  // Makes the piece reach `until` (never beyond the disk's end, nor beyond
  // kMaxPieceBytes); returns the file offset it reaches, which is less at the
  // end of the file or of the piece. Reads grow at least twofold, so a long
  // track costs few reads.
  bool short_ = false;
  const auto reach = [&](std::int64_t until) {
    until = std::min(until, end);
    const std::int64_t have = piece.start + static_cast<std::int64_t>(piece.size);
    if (until > have && !piece.ended) {
      if (!mayRead) {
        short_ = true;
        return have;
      }
      if (until - piece.start <= kMaxPieceBytes) {
        readInto(piece, std::min(kMaxPieceBytes,
                                 std::max(until - piece.start,
                                          2 * static_cast<std::int64_t>(piece.size))));
      }
    }
    return std::min(piece.start + static_cast<std::int64_t>(piece.size), std::max(until, start));
  };
  // The 16 header bytes at `at`: from the piece when it holds them, else
  // through the window; nullptr when they are not all in the disk.
  std::vector<std::uint8_t> window;
  std::int64_t windowStart = 0;
  std::int64_t lastDataSize = 0;
  const auto header = [&](std::int64_t at) -> const std::uint8_t* {
    const std::int64_t need = at + kSectorHeaderSize;
    if (reach(need) >= need) return piece.bytes.get() + (at - piece.start);
    if (short_) return nullptr;
    // The piece ends before the header: the file or the disk ends there.
    if (piece.ended || need <= piece.start + kMaxPieceBytes) return nullptr;
    if (at < windowStart || need > windowStart + static_cast<std::int64_t>(window.size())) {
      const std::int64_t want =
          std::min(end - at, lastDataSize >= kLongRecord ? kSectorHeaderSize : kHeaderWindow);
      window.resize(static_cast<std::size_t>(want));
      const std::int64_t got = file_->readAt(at, window.data(), window.size());
      window.resize(static_cast<std::size_t>(got > 0 ? got : 0));
      windowStart = at;
      if (static_cast<std::int64_t>(window.size()) < kSectorHeaderSize) return nullptr;
    }
    return window.data() + (at - windowStart);
  };
  // Bytes of the data at `data` of `size` bytes that the disk holds.
  const auto available = [&](std::int64_t data, std::int64_t size) -> std::int64_t {
    const std::int64_t reached = reach(data + size);
    if (reached >= data + size) return size;
    if (piece.ended || reached >= end || data + size <= piece.start + kMaxPieceBytes) {
      return std::max<std::int64_t>(0, reached - data);
    }
    // Past the piece's limit: the disk's end says how much is there, unless
    // the file has no size to tell; then the data is read to count it.
    if (end != kNoEnd) return std::min(size, end - data);
    std::vector<std::uint8_t> scratch(static_cast<std::size_t>(size));
    const std::int64_t got = file_->readAt(data, scratch.data(), scratch.size());
    return got > 0 ? got : 0;
  };

  const std::size_t first = out.size();
  *next = -1;
  for (std::int64_t i = index; end - position >= kSectorHeaderSize; ++i) {
    if (out.size() - first >= limit) {
      *next = position;
      return WalkEnd::kLimit;
    }
    const std::uint8_t* raw = header(position);
    if (raw == nullptr) break;
    SectorRecord record{};
    record.id = {raw[kSectorCOffset], raw[kSectorHOffset], raw[kSectorROffset], raw[kSectorNOffset]};
    record.recordCount = readLE16(raw + kSectorCountOffset);
    record.density = raw[kDensityOffset];
    record.deletedMark = raw[kDeletedMarkOffset];
    record.status = raw[kStatusOffset];
    record.dataSize = readLE16(raw + kDataSizeOffset);
    record.headerOffset = position;
    const std::int64_t data = position + kSectorHeaderSize;
    record.dataAvailable = static_cast<std::int32_t>(available(data, record.dataSize));
    if (short_) break;
    out.push_back(record);
    if (i == record.recordCount - 1) break;
    lastDataSize = record.dataSize;
    position = data + record.dataSize;
    if (stopAtEmpty && record.recordCount == 0) {
      *next = position;
      return WalkEnd::kEmptyCount;
    }
  }
  if (short_) {
    out.resize(first);
    return WalkEnd::kShort;
  }
  return WalkEnd::kDone;
}

// Walks the track that starts at file offset `start` in piece `at`, filling
// `t`: its records up to and with the first whose record count is 0 (a search
// ends there; a listing walks on from there when asked), and the index a
// search uses. False when `mayRead` is false and the piece ends too soon.
bool D88Image::walkTrack(Track& t, std::uint32_t at, std::int64_t start, bool mayRead) {
  std::vector<SectorRecord>& records = cache_->records();
  const std::size_t firstRecord = records.size();
  std::int64_t next = -1;
  const WalkEnd ended = walkRecords(cache_->pieces()[at], start, 0, mayRead, true,
                                    static_cast<std::size_t>(-1), records, &next);
  if (ended == WalkEnd::kShort) return false;

  t.start = start;
  t.next = ended == WalkEnd::kEmptyCount ? next : -1;
  t.walked = true;
  t.piece = at;
  t.firstRecord = firstRecord;
  t.recordCount = records.size() - firstRecord;
  // A search stops at a header that says its track has no records (the last
  // one cached), and the first record of an identity wins: sorting by
  // (identity, index) puts it first among its equals.
  auto& keys = cache_->keys();
  t.firstKey = keys.size();
  for (std::size_t i = 0; i < t.recordCount && records[firstRecord + i].recordCount != 0; ++i) {
    keys.emplace_back(identityKey(records[firstRecord + i].id), static_cast<std::uint32_t>(i));
  }
  const auto from = keys.begin() + static_cast<std::ptrdiff_t>(t.firstKey);
  std::sort(from, keys.end());
  keys.erase(std::unique(from, keys.end(),
                         [](const auto& a, const auto& b) { return a.first == b.first; }),
             keys.end());
  t.keyCount = keys.size() - t.firstKey;
  return true;
}

const SectorRecord* D88Image::findSector(const Track& t, std::int32_t c, std::int32_t h,
                                         std::int32_t r, std::int32_t n) const {
  std::uint32_t key = 0;
  if (!identityKey(c, h, r, n, &key)) return nullptr;
  const auto first = cache_->keys().begin() + static_cast<std::ptrdiff_t>(t.firstKey);
  const auto last = first + static_cast<std::ptrdiff_t>(t.keyCount);
  const auto at = std::lower_bound(first, last, key,
                                   [](const auto& entry, std::uint32_t k) { return entry.first < k; });
  if (at == last || at->first != key) return nullptr;
  return &cache_->records()[t.firstRecord + at->second];
}

std::int32_t D88Image::copyData(const Track& t, const SectorRecord& record, std::uint8_t* buffer,
                                std::int32_t maxBytes) const {
  const std::int32_t length = std::min<std::int32_t>(
      std::min<std::int32_t>(record.dataSize, maxBytes), record.dataAvailable);
  if (length <= 0) return 0;
  const Piece& piece = cache_->piece(t);
  const std::int64_t data = record.headerOffset + kSectorHeaderSize;
  if (data >= piece.start &&
      data + length <= piece.start + static_cast<std::int64_t>(piece.size)) {
    std::memcpy(buffer, piece.bytes.get() + (data - piece.start), static_cast<std::size_t>(length));
    return length;
  }
  // Data that a long walk skipped over is read from the file when asked for.
  const std::int64_t got = file_->readAt(data, buffer, static_cast<std::size_t>(length));
  return static_cast<std::int32_t>(got > 0 ? got : 0);
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

std::vector<SectorRecord> D88Image::trackRecords(std::int32_t track, std::size_t maxRecords) {
  const Track* t = this->track(track);
  if (t == nullptr) return {};
  const auto first = cache_->records().begin() + static_cast<std::ptrdiff_t>(t->firstRecord);
  const std::size_t cached = std::min(t->recordCount, maxRecords);
  std::vector<SectorRecord> out(first, first + static_cast<std::ptrdiff_t>(cached));
  // A record count of 0 does not end a listing: the walk goes on from where
  // the cached records stop, read afresh and not kept.
  if (t->next >= 0 && out.size() < maxRecords) {
    Piece piece;
    piece.start = t->next;
    std::int64_t next = -1;
    walkRecords(piece, t->next, static_cast<std::int64_t>(t->recordCount), true, false, maxRecords - out.size(), out, &next);
  }
  return out;
}

std::int32_t D88Image::listSectorIds(std::int32_t track, std::uint8_t* buffer,
                                     std::int32_t capacityBytes) {
  if (buffer == nullptr || capacityBytes < kSectorIdSize) return 0;
  const std::vector<SectorRecord> records =
      trackRecords(track, static_cast<std::size_t>(capacityBytes / kSectorIdSize));
  for (std::size_t i = 0; i < records.size(); ++i) {
    const SectorId& id = records[i].id;
    std::uint8_t* entry = buffer + kSectorIdSize * i;
    entry[0] = id.c;
    entry[1] = id.h;
    entry[2] = id.r;
    entry[3] = id.n;
  }
  return static_cast<std::int32_t>(records.size() * kSectorIdSize);
}

}  // namespace d88
