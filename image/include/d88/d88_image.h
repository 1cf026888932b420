// Reader of D88 floppy-disk image files: the disks stored back to back in one
// file, the header and track table of one selected disk, and its sectors read
// by identity, alone or as runs that continue across heads and cylinders.
//
// The reader never prints and never throws; every failure is a result value.
// A damaged or truncated image is ordinary input: every count, size and offset
// taken from the file is checked before it is used.
#ifndef D88_D88_IMAGE_H_
#define D88_D88_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace d88 {

class RandomAccessFile;

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

// What became of one sector of a run read by D88Image::readRun().
struct SectorOutcome {
  SectorAddress address;    // the sector sought
  std::int32_t slotOffset;  // where its bytes go in the run's buffer
  std::int32_t slotBytes;   // bytes the run takes from it: 128 << n, less for the last
  std::int32_t bytesRead;   // bytes copied into its slot: slotBytes when whole
  bool found;               // a record with this identity stands in its track
  SectorRecord record;      // that record, when found
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
  // its track table), then with a path opens `path` (UTF-8) for reading and
  // finds its disks. False only when the file cannot be opened, see
  // openError(); no disk found is still true, with diskCount() 0. With
  // nullptr: closes and returns true.
  bool open(const char* path);

  // Why the last open() failed: the system's errno value; 0 after a
  // successful open() or open(nullptr).
  int openError() const { return openError_; }
  // errno value of the last read of the image that failed, 0 when none has
  // since open(): a read error looks like missing data to every other call.
  int readError() const;
  // Bytes of the open file; -1 when none is open or it has no size to tell.
  std::int64_t fileSize() const;

  // Loads the header and track table of disk `index` (0 to diskCount() - 1),
  // as open() read them. Any call first forgets the previous selection; false
  // when there is no file or the index is not a disk found by open().
  bool selectDisk(std::int32_t index);

  // Sector numbers of the first and last sector of every track, used by runs
  // to move from one track to the next. Not checked.
  void setSectorRange(std::int32_t first, std::int32_t last);

  // Disks found by the last successful open(), 0 to 64. Each disk starts
  // where the one before it ends by its size field; a size field smaller than
  // a disk header ends the list after that disk.
  std::int32_t diskCount() const { return diskCount_; }
  // Always -1: kept for callers that expect it.
  std::int32_t currentDisk() const { return currentDisk_; }
  // Media type byte of the selected disk (0 to 255), -1 when none is selected.
  std::int32_t mediaType() const { return mediaType_; }
  // Write-protect byte of the selected disk (0 to 255; 0x10 means
  // protected), -1 when none is selected.
  std::int32_t writeProtect() const { return writeProtect_; }
  // File offset of the selected disk; -1 after a failed selection.
  std::int32_t diskOffset() const { return diskOffset_; }
  // Size in bytes of the selected disk as its header gives it; 0 when none.
  std::int32_t diskSize() const { return diskSize_; }
  // File offset where the selected disk's records end: the next disk's
  // offset; for the last disk the end of the file (INT64_MAX when the file
  // has no size to tell), and for the 64th the end its size field gives. No
  // record header or data at or beyond it belongs to the disk. 0 when none
  // is selected.
  std::int64_t diskEnd() const { return diskEnd_; }
  // Entry `track` (0 to 163) of the selected disk's track table: the offset of
  // the track's first record from the disk's start, 0 when absent or when
  // `track` is out of range. Slots that a short table leaves to sector data are 0.
  std::int32_t trackOffset(std::int32_t track) const {
    return track >= 0 && track < kTrackCount ? trackOffsets_[track] : 0;
  }
  // Name of the selected disk, at most 16 characters, empty when none; valid
  // as long as this instance lives.
  const char* diskName() const { return name_; }

  // Copies the data of the first record of `track` whose identity is exactly
  // (c, h, r, n) into buffer, at most maxBytes of it. The search walks the
  // track from its first record and ends at a header whose record count is 0
  // or at the count of the header just read. Returns the bytes copied: the
  // sector's length capped at maxBytes, fewer when the disk or the file ends
  // inside the sector, 0 when the track or the sector is not there.
  std::int32_t readSector(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                          std::int32_t n, std::uint8_t* buffer, std::int32_t maxBytes);

  // Reads totalBytes of consecutive sectors of size code n, starting at
  // (c, h, r, n) on `track`, into buffer. Returns the bytes of the sectors read
  // whole before the first that failed, totalBytes when all came; 0 for a size
  // code outside 0 to 23. After lastSector the run moves to the next track:
  // the other head, or head 0 of the next cylinder.
  std::int32_t readSectors(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                           std::int32_t n, std::uint8_t* buffer, std::int32_t totalBytes);

  // Reads the same run as readSectors() sector by sector to its end, for
  // salvage: every sector found is copied into its slot (a short one as far
  // as its data goes), and a slot whose sector is not found is left as it
  // was. Returns one outcome per sector, in run order; none for totalBytes
  // of 0 or less or a size code outside 0 to 23.
  std::vector<SectorOutcome> readRun(const SectorAddress& first, std::uint8_t* buffer,
                                     std::int32_t totalBytes);

  // Writes the identity (C, H, R, N) of each record of `track`, in record
  // order, as 4-byte entries into buffer; only whole entries that fit in
  // capacityBytes. Returns the bytes written, 0 when the track is not there.
  std::int32_t listSectorIds(std::int32_t track, std::uint8_t* buffer,
                             std::int32_t capacityBytes);

  // The records of `track`, in record order, at most maxRecords of them: the
  // records listSectorIds() lists, with all their header fields. Empty when
  // the track is not there.
  std::vector<SectorRecord> trackRecords(std::int32_t track,
                                         std::size_t maxRecords = static_cast<std::size_t>(-1));

  // The address that follows `at` in a run under the current sector range:
  // r + 1, or after lastSector the first sector of the next track.
  SectorAddress followingSector(const SectorAddress& at) const;

 private:
  struct Track;
  struct Piece;
  class TrackCache;

  void forgetDisk();
  // The records of `track`, walked when first asked for and kept while the
  // disk stays selected and the cache has room; nullptr when the track is
  // not there. Valid until the next call.
  const Track* track(std::int32_t index);
  // Makes `piece` hold `count` bytes from its start, fewer at the disk's or the file's end.
  void readInto(Piece& piece, std::int64_t count);
  // Why walkRecords() stopped: the walk's own end, `limit` records out, a
  // record count of 0 (with stopAtEmpty), or a piece too short to read on.
  enum class WalkEnd { kDone, kLimit, kEmptyCount, kShort };
  WalkEnd walkRecords(Piece& piece, std::int64_t position, std::int64_t index, bool mayRead,
                      bool stopAtEmpty, std::size_t limit, std::vector<SectorRecord>& out,
                      std::int64_t* next);
  // Walks the track starting at `start` in piece `piece`; false when it ran
  // past the piece and `mayRead` forbade reading on.
  bool walkTrack(Track& track, std::uint32_t piece, std::int64_t start, bool mayRead);
  // The first record of `track` with identity (c, h, r, n) that a search
  // reaches; nullptr when there is none.
  const SectorRecord* findSector(const Track& track, std::int32_t c, std::int32_t h,
                                 std::int32_t r, std::int32_t n) const;
  template <typename Visit>
  void forEachRunSector(const SectorAddress& first, std::int32_t totalBytes, Visit&& visit) const;
  // Copies up to maxBytes of the record's data; returns the bytes copied.
  std::int32_t copyData(const Track& track, const SectorRecord& record, std::uint8_t* buffer,
                        std::int32_t maxBytes) const;

  std::unique_ptr<RandomAccessFile> file_;
  std::unique_ptr<TrackCache> cache_;
  int openError_ = 0;
  std::int32_t currentDisk_ = -1;
  std::int32_t diskCount_ = 0;
  std::int32_t firstSector_ = 1;
  std::int32_t lastSector_ = 16;
  std::int32_t diskOffsets_[kMaxDisks] = {};
  // The 688-byte header of each disk found by open(), back to back.
  std::vector<std::uint8_t> headers_;
  // Where each disk's records end; see diskEnd().
  std::int64_t diskEnds_[kMaxDisks] = {};
  std::int32_t diskSize_ = 0;
  std::int32_t diskOffset_ = 0;
  std::int64_t diskEnd_ = 0;
  std::int32_t trackOffsets_[kTrackCount] = {};
  // File offsets where the selected disk's tracks start, sorted: where one
  // track starts is where the one before it most likely ends.
  std::vector<std::int64_t> trackStarts_;
  // Whether two table entries of the selected disk point at one place.
  bool sharedStarts_ = false;
  // The track walked last; a walk of the next one reads well ahead.
  std::int32_t lastWalked_ = -1;
  std::int32_t mediaType_ = -1;
  std::int32_t writeProtect_ = -1;
  char name_[kNameLength + 1] = {};
};

}  // namespace d88

#endif  // D88_D88_IMAGE_H_
