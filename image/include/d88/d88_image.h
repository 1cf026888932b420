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
#include <cstdio>
#include <memory>


namespace d88 {

// Disks stand back to back from offset 0; the reader looks at no more than this many.
constexpr int kMaxDisks = 64;
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

class D88Image {
 public:
  // No file open, no disk selected, sector range 1 to 16.
  D88Image();
  // Closes the image file if one is open.
  ~D88Image() = default;
  D88Image(const D88Image&) = delete;
  D88Image& operator=(const D88Image&) = delete;

  // With a path: closes any open file, opens `path` for binary reading and
  // finds its disks; false only when the file cannot be opened (no disk found
  // is still true, with diskCount() 0). With nullptr: closes and returns true.
  bool open(const char* path);

  // Why the last open() failed: the system's errno value; 0 after a
  // successful open() or open(nullptr).
  int openError() const { return openError_; }

  // Loads the header and track table of disk `index` (0 to diskCount() - 1).
  // Any call first forgets the previous selection; false when there is no
  // file, the index is not a disk found by open(), or its header cannot be read.
  bool selectDisk(std::int32_t index);

  // Sector numbers of the first and last sector of every track, used by
  // readSectors() to move from one track to the next. Not checked.
  void setSectorRange(std::int32_t first, std::int32_t last);

  // Disks found by the last successful open(), 0 to 64.
  std::int32_t diskCount() const { return diskCount_; }
  // Always -1: kept for callers that expect it.
  std::int32_t currentDisk() const { return currentDisk_; }
  // Media type byte of the selected disk (0 to 255), -1 when none is selected.
  std::int32_t mediaType() const { return mediaType_; }
  // File offset of the selected disk; -1 after a failed selection.
  std::int32_t diskOffset() const { return diskOffset_; }
  // Size in bytes of the selected disk as its header gives it; 0 when none.
  std::int32_t diskSize() const { return diskSize_; }
  // Name of the selected disk, at most 16 characters, empty when none; valid
  // as long as this instance lives.
  const char* diskName() const { return name_; }

  // Copies the data of the first record of `track` whose identity is exactly
  // (c, h, r, n) into buffer, at most maxBytes of it. Returns the bytes copied:
  // the sector's length capped at maxBytes, fewer when the file ends inside
  // the sector, 0 when the track or the sector is not there.
  std::int32_t readSector(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                          std::int32_t n, std::uint8_t* buffer, std::int32_t maxBytes);

  // Reads totalBytes of consecutive sectors of size code n, starting at
  // (c, h, r, n) on `track`, into buffer. Returns the bytes of the sectors read
  // whole before the first that failed, totalBytes when all came; 0 for a size
  // code outside 0 to 23. After lastSector the run moves to the next track:
  // the other head, or head 0 of the next cylinder.
  std::int32_t readSectors(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                           std::int32_t n, std::uint8_t* buffer, std::int32_t totalBytes);

  // Writes the identity (C, H, R, N) of each record of `track`, in record
  // order, as 4-byte entries into buffer; only whole entries that fit in
  // capacityBytes. Returns the bytes written, 0 when the track is not there.
  std::int32_t listSectorIds(std::int32_t track, std::uint8_t* buffer,
                             std::int32_t capacityBytes);

  // The address that follows `at` in a run under the current sector range:
  // r + 1, or after lastSector the first sector of the next track.
  SectorAddress followingSector(const SectorAddress& at) const;

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  struct RecordHeader {
    SectorId id;
    std::int32_t sectorCount;
    std::int32_t dataSize;
  };
  enum class Walk { kNext, kStop };

  void close();
  bool seekTo(std::int64_t position);
  std::int32_t readBytes(std::uint8_t* buffer, std::int32_t count);
  bool trackStart(std::int32_t track, std::int64_t* position) const;
  template <typename Visit>
  void walkTrack(std::int32_t track, Visit&& visit);

  // The stream's buffer: large enough that the tracks a run walks again and
  // again stay in it, so that walking a track again costs no system read.
  static constexpr std::size_t kStreamBufferSize = 32 * 1024;
  char streamBuffer_[kStreamBufferSize] = {};
  // The stream's position as far as this reader knows it, -1 when unknown:
  // seeks to where the stream already stands are skipped.
  std::int64_t position_ = -1;
  // Declared after the buffer, so the stream is closed before the buffer goes.
  std::unique_ptr<std::FILE, FileCloser> file_;
  int openError_ = 0;
  std::int32_t currentDisk_ = -1;
  std::int32_t diskCount_ = 0;
  std::int32_t firstSector_ = 1;
  std::int32_t lastSector_ = 16;
  std::int32_t diskOffsets_[kMaxDisks] = {};
  std::int32_t diskSize_ = 0;
  std::int32_t diskOffset_ = 0;
  std::int32_t trackOffsets_[kTrackCount] = {};
  std::int32_t mediaType_ = -1;
  char name_[kNameLength + 1] = {};
};

}  // namespace d88

#endif  // D88_D88_IMAGE_H_
