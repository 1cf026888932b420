// Reader of D88 floppy-disk image files: the disks stored back to back in one
// file, the header and track table of one selected disk, and its sectors read
// by identity, alone or as runs that continue across heads and cylinders.
//
// The reader never prints; every failure is a result value, and status()
// says why. It throws nothing of its own: only std::bad_alloc can leave a
// call that returns a vector or a walk, when memory for that result runs out. A damaged or truncated image is ordinary input:
// every count, size and offset taken from the file is a claim, checked
// before it is used, and no walk or allocation grows with what it claims.
#ifndef D88_D88_IMAGE_H_
#define D88_D88_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <d88/status.h>

namespace d88 {

// Disks stand back to back from offset 0; the reader looks at no more than this many.
constexpr int kMaxDisks = 64;
// Bytes of a disk header, at the start of every disk; a disk's size field is
// never smaller on a sound image.
constexpr int kDiskHeaderSize = 0x2B0;
// Tracks in a full track table.
constexpr int kTrackCount = 164;
// Characters of a disk name that are kept (the 17th byte of the field is not read).
constexpr int kNameLength = 16;

// The largest size code whose sector size, 128 << n, fits a signed 32-bit count.
constexpr int kMaxSizeCode = 23;

// Bytes of one listed sector identity: C, H, R, N.
constexpr int kSectorIdSize = 4;

// Records one walk of a track reads at most. A physical track holds a few
// dozen sectors; a walk that goes on past this is following damage, and
// stopping here keeps time and memory bounded whatever the counts claim.
constexpr int kMaxTrackRecords = 256;

// An input with no size to tell (a pipe, a terminal, a character device) is
// read into memory as far as the reader needs it, and no further than this.
constexpr std::uint64_t kMaxStreamBytes = 256u * 1024u * 1024u;

// True when a track-table entry points at a record inside its disk: not 0
// (absent) and not beyond the disk's size field. Both are the file's
// unsigned 32-bit values.
bool trackEntryInDisk(std::uint32_t entry, std::uint32_t diskSize);

// Sector identity as the disk controller sees it.
struct SectorId {
  std::uint8_t c;  // cylinder
  std::uint8_t h;  // head
  std::uint8_t r;  // sector number
  std::uint8_t n;  // size code: 128 << n bytes nominally
};

// Where a sector stands: a track of the selected disk and the identity sought there.
// Numbers are kept signed and unrestricted so that callers may ask for anything.
struct SectorAddress {
  std::int32_t track;
  std::int32_t c;
  std::int32_t h;
  std::int32_t r;
  std::int32_t n;
};

// "track T (C c, H h, R r, N n)": how messages name a sector.
std::string sectorAddressText(const SectorAddress& address);

// The status byte of a record header: what the disk controller reported
// when the sector was read for the image.
constexpr std::uint8_t kStatusNormal = 0x00;
constexpr std::uint8_t kStatusDeletedData = 0x10;
constexpr std::uint8_t kStatusIdCrcError = 0xA0;
constexpr std::uint8_t kStatusDataCrcError = 0xB0;
constexpr std::uint8_t kStatusNoAddressMark = 0xE0;
constexpr std::uint8_t kStatusNoDataMark = 0xF0;
// The density byte of a record header: single density (FM); 0x00 is double.
constexpr std::uint8_t kDensitySingle = 0x40;
// The deleted-data byte of a record header when the sector carries that mark.
constexpr std::uint8_t kDeletedDataMark = 0x10;
// The write-protect byte of a disk header when the disk is protected.
constexpr std::uint8_t kWriteProtected = 0x10;

// True when the image marks the sector as unreadable: any status but normal
// and deleted data. Such a sector's bytes are whatever the dump got.
bool isMarkedBad(std::uint8_t status);
// The status in words: "normal", "deleted data", "ID CRC error", "data CRC
// error", "no address mark", "no data mark", or "unknown status 0xNN".
std::string statusMeaning(std::uint8_t status);

// One sector record of a track: every field of its 16-byte header, and where
// its data stands in the file.
struct SectorRecord {
  SectorId id;
  std::uint16_t recordCount;   // records in the track, as this header says
  std::uint8_t density;        // 0x00 double, 0x40 single
  std::uint8_t deletedMark;    // 0x10 when the sector carries the deleted-data mark
  std::uint8_t status;         // the controller's status; see isMarkedBad()
  std::uint16_t dataSize;      // data bytes that follow the header, as it says
  std::int64_t headerOffset;   // file offset of the header
  std::int32_t dataAvailable;  // data bytes the disk really holds: dataSize, or
                               // fewer where the disk or the file ends first
};

// True when the record holds deleted data: by its status or by its mark.
bool isDeletedData(const SectorRecord& record);

// Bytes a sector of size code n holds nominally, 128 << n; 0 for a size code
// outside 0 to kMaxSizeCode.
std::int32_t sectorBytes(int n);

// True when the record can be trusted whole: the disk holds all the bytes its
// size code says, and the image does not mark it bad. Deleted data is sound.
bool isSoundRecord(const SectorRecord& record);

// True when records a and b carry the same identity (C, H, R, N).
bool sameIdentity(const SectorId& a, const SectorId& b);

// What became of one sector of a run read by D88Image::readRun().
struct SectorOutcome {
  SectorAddress address;    // the sector sought
  std::int32_t slotOffset;  // where its bytes go in the run's buffer
  std::int32_t slotBytes;   // bytes the run takes from it: 128 << n, less for the last
  std::int32_t bytesRead;   // bytes copied into its slot: slotBytes when whole
  bool found;               // a record with this identity stands in its track
  SectorRecord record;      // that record, when found
  Status status;            // why bytesRead < slotBytes; ok when whole
};

// The sector numbers of the first and last sector of every track: a run
// moves to the next track after `last`.
struct SectorRange {
  std::int32_t first;
  std::int32_t last;
};

// The address that follows `at` in a run: r + 1, or after range.last sector
// range.first of the next track (the other head, or head 0 of the next cylinder).
SectorAddress followingSector(const SectorAddress& at, const SectorRange& range);

// Why a walk of a track's records ended.
enum class TrackEnd {
  kRecordCount,   // the record count of the header just read was reached
  kZeroCount,     // the last record's header says its track has 0 records
  kDiskEnd,       // the next header would start at or past the disk's end
  kHeaderCutOff,  // the next header starts inside the disk but is cut off by its end
  kCap,           // kMaxTrackRecords records were read: the walk is cut short
  kReadError,     // reading the image failed; see TrackWalk::error
};

// The records of one track as a listing reads them, and why the walk ended.
struct TrackWalk {
  std::vector<SectorRecord> records;  // in record order
  TrackEnd end = TrackEnd::kRecordCount;
  // File offset where the walk ended: the header it did not take (kDiskEnd,
  // kHeaderCutOff, kCap), the failed read (kReadError), or the header of the
  // last record (kRecordCount, kZeroCount).
  std::int64_t endOffset = 0;
  Status error;  // kReadError: the system's reason
};

// How the tracks of a disk are laid out, as a listing sums them up.
struct TrackCounts {
  int tracks = 0;       // tracks whose walk gives at least one record
  int minRecords = 0;   // the fewest and most records of those tracks
  int maxRecords = 0;
  std::vector<int> sizeCodes;  // the size codes N seen, distinct, ascending
  // What most of them have (the smallest on a tie): the record count of a
  // track, and the size code of a record. 0 when no track has records.
  int usualRecords = 0;
  int usualSizeCode = 0;
  int lastTrack = -1;      // the highest track with records; -1 when none
  bool twoSided = false;   // a track of head 1 (an odd index) has records
};

// "80 tracks, 16 sectors/track, N 1", "154 tracks, 5-8 sectors/track, N 2,3"
// or "0 tracks": the words of d88ls's disk line.
std::string trackCountsText(const TrackCounts& counts);

// What the reader has done since open(): what its byte source read and what
// its walks keep. Tests and benchmarks use it to show that work and memory
// stay bounded whatever an image claims.
struct ReaderStats {
  std::uint64_t readCalls = 0;     // reads of the file or stream
  std::uint64_t bytesRead = 0;     // bytes those reads brought in
  std::uint64_t bytesHeld = 0;     // bytes the byte source holds now (read-ahead, stream copy)
  std::uint64_t recordsWalked = 0; // record headers decoded by walks
  std::uint64_t recordsKept = 0;   // records the track cache holds now
};

class D88Image {
 public:
  // No file open, no disk selected, sector range 1 to 16.
  D88Image();
  // Closes the image file if one is open.
  ~D88Image();
  D88Image(const D88Image&) = delete;
  D88Image& operator=(const D88Image&) = delete;

  // Forgets everything about the previous file (its disks, the selected disk,
  // its track table, its failures), then with a path opens `path` (UTF-8;
  // "-" is standard input) for reading and finds its disks. False only when
  // the file cannot be opened; no disk found is still true, with
  // diskCount() 0. A read that failed while the disks were sought is kept in
  // status() and directoryStatus() (and readFailure() when it left no disk).
  // With nullptr: closes and returns true.
  bool open(const char* path);

  // Why the last open(), selectDisk() or read that failed did so; ok when
  // none has failed since open(). A sector that is not there is a failure
  // of the read that sought it (Code::kNotFound).
  const Status& status() const;
  // The first failure since open() to get bytes from the file at all (an
  // I/O error, a stream past kMaxStreamBytes, memory): every call after it
  // may have missed data. Ok when there was none.
  const Status& readFailure() const;
  // Why open() found no more disks than diskCount() when a read stopped the
  // search (an I/O error, a stream past kMaxStreamBytes); ok when the disks
  // simply ended. The disks found before it read as usual: a failure here is
  // a readFailure() only when no disk was found at all.
  const Status& directoryStatus() const;
  // The errno value of the last open() that failed; 0 after one that did not.
  int openError() const;
  // The errno value of readFailure(), 0 when none (or when it has none).
  int readError() const;
  // Bytes of the open file; -1 when none is open or it has no size to tell.
  std::int64_t fileSize() const;

  // Makes disk `index` (0 to diskCount() - 1) the selected disk, from the
  // header open() read. Any call first forgets the previous selection; false
  // when there is no file or no such disk.
  bool selectDisk(std::int32_t index);

  // Sector numbers of the first and last sector of every track, used by
  // readSectors() to move from one track to the next. Not checked.
  void setSectorRange(std::int32_t first, std::int32_t last);

  // Disks found by the last successful open(), 0 to 64. Each disk starts
  // where the one before it ends by its size field; a size field smaller than
  // a disk header ends the list after that disk.
  std::int32_t diskCount() const;
  // Always -1: kept for callers that expect it.
  std::int32_t currentDisk() const;
  // Media type byte of the selected disk (0 to 255), -1 when none is selected.
  std::int32_t mediaType() const;
  // Write-protect byte of the selected disk (0 to 255; 0x10 means
  // protected), -1 when none is selected.
  std::int32_t writeProtect() const;
  // File offset of the selected disk; -1 after a failed selection.
  std::int64_t diskOffset() const;
  // The selected disk's size field, as the header has it; 0 when none.
  std::uint32_t diskSize() const;
  // File offset where the selected disk's records end: the next disk's
  // offset; for the last disk the end of the file (INT64_MAX when it has no
  // size to tell), and for the 64th the end its size field gives. 0 when
  // none is selected.
  std::int64_t diskEnd() const;
  // Entry `track` (0 to 163) of the selected disk's track table: the offset
  // of the track's first record from the disk's start; 0 when absent, when
  // `track` is out of range, or when a short table leaves the slot to sector data.
  std::uint32_t trackOffset(std::int32_t track) const;
  // Name of the selected disk, at most 16 characters, empty when none; valid
  // as long as this instance lives.
  const char* diskName() const;

  // Copies the data of the first record of `track` whose identity is exactly
  // (c, h, r, n) into buffer, at most maxBytes of it. The search walks the
  // track from its first record and ends at a header whose record count is 0
  // or at the count of the header just read. Returns the bytes copied: the
  // sector's length capped at maxBytes, fewer when the disk or the file ends
  // inside the sector, 0 when the track or the sector is not there.
  std::int32_t readSector(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                          std::int32_t n, std::uint8_t* buffer, std::int32_t maxBytes);

  // Reads totalBytes of consecutive sectors of size code n, starting at
  // (c, h, r, n) on `track`, into buffer, under setSectorRange(). Returns the
  // bytes of the sectors read whole before the first that failed, totalBytes
  // when all came; 0 for a size code outside 0 to 23.
  std::int32_t readSectors(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                           std::int32_t n, std::uint8_t* buffer, std::int32_t totalBytes);

  // Reads the run of totalBytes that starts at `first`, under `range`, sector
  // by sector to its end, for salvage: every sector found is copied into its
  // slot (a short one as far as its data goes); a slot whose sector is not
  // found is left as it was. With a null buffer nothing is copied and
  // bytesRead says what would be. One outcome per sector, in run order; none
  // for totalBytes of 0 or less or a size code outside 0 to 23.
  std::vector<SectorOutcome> readRun(const SectorAddress& first, const SectorRange& range,
                                     std::uint8_t* buffer, std::int32_t totalBytes);

  // Writes the identity (C, H, R, N) of each record of `track`, in record
  // order, as 4-byte entries into buffer; only whole entries that fit in
  // capacityBytes. A record count of 0 does not end this walk; the count of
  // a later header, the disk's end or kMaxTrackRecords does. Returns the
  // bytes written, 0 when the track is not there.
  std::int32_t listSectorIds(std::int32_t track, std::uint8_t* buffer,
                             std::int32_t capacityBytes);

  // Copies the data of `record`, a record of the selected disk as a walk gave
  // it, into buffer: at most maxBytes and no more than it has
  // (dataAvailable). Returns the bytes copied; fewer than it has only when a
  // read failed, with the reason in status().
  std::int32_t readRecord(const SectorRecord& record, std::uint8_t* buffer,
                          std::int32_t maxBytes);

  // The records of `track` whose identity is exactly `at`'s (c, h, r, n), in
  // record order: the first is the one readSector() reads, the others its
  // twins. None when the track or the sector is not there.
  std::vector<SectorRecord> recordsOf(const SectorAddress& at);

  // Takes `record` as the sector of `outcome` (its address, slotOffset and
  // slotBytes set by the caller), as readRun() does for the record it finds:
  // sets found and record, copies the record's bytes into slot (the slot's
  // own start; nothing copied when null) as far as they go, and sets
  // bytesRead and, when fewer than slotBytes came, status.
  void takeRecord(const SectorRecord& record, std::uint8_t* slot, SectorOutcome* outcome);

  // True when records a and b of the selected disk hold the same data, as
  // far as their first maxBytes bytes: as many bytes up to there
  // (dataAvailable), and equal. A read that fails makes them differ, with
  // the reason in status(). Reads at most 2 x maxBytes.
  bool sameData(const SectorRecord& a, const SectorRecord& b, std::int32_t maxBytes);
  // Copies the bytes of the open file from `offset` on into buffer, at most
  // `size` of them, as they stand, whatever disk or record they belong to.
  // Returns the bytes copied: fewer than `size` only where the file ends, or
  // when a read failed, with the reason in status() and readFailure(). A
  // large read of a regular file goes straight to the file; a stream is read
  // through the reader's copy of it, so no further than kMaxStreamBytes.
  std::size_t readBytes(std::int64_t offset, std::uint8_t* buffer, std::size_t size);

  // The records of `track` as walkTrack() gives them, at most maxRecords.
  std::vector<SectorRecord> trackRecords(std::int32_t track,
                                         std::size_t maxRecords = kMaxTrackRecords);

  // The records of `track`, in record order, up to and with the first whose
  // record count is 0, at most kMaxTrackRecords, and why the walk ended. No
  // records, ending kRecordCount, when the track is absent or out of range.
  TrackWalk walkTrack(std::int32_t track);

  // The layout of the selected disk's tracks, from the walks of all of them.
  TrackCounts countTracks();

  // followingSector() under setSectorRange().
  SectorAddress followingSector(const SectorAddress& at) const;

  // What has been read and kept since open().
  ReaderStats stats() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace d88

#endif  // D88_D88_IMAGE_H_
