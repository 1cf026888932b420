// The reader of D88 floppy-disk image files: the disks stored back to back in
// one file, the header and track table of one selected disk, and its sectors
// read by identity, alone or as runs that continue across heads and
// cylinders, with every record of a track as a walk finds it.
//
// An image is opened by one of the factories below, which decide once
// whether the file is a D88 image at all. The reader never prints: every call
// that can fail returns a Status that says why. It throws nothing of its own;
// only std::bad_alloc can leave a call that returns a vector or a walk, when
// memory for that result runs out. A damaged or truncated image is ordinary
// input: every count, size and offset taken from the file is a claim,
// checked before it is used, and no walk or allocation grows with what it
// claims.
#ifndef D88_IMAGE_H_
#define D88_IMAGE_H_

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <d88/file.h>
#include <d88/format.h>
#include <d88/status.h>

namespace d88 {

class ImageAccess;

// Memory that several open images share: what each holds of its input is
// taken from it and given back when the image is closed, so that a program
// that reads many inputs at once stays within one bound, whatever each
// claims. An image takes kImageOverheadBytes when it opens (its windows and
// the records it keeps of its tracks), then a stream's copy as it grows.
// Thread safety: images on different threads may share one.
class MemoryBudget {
 public:
  explicit MemoryBudget(std::uint64_t bytes) : limit_(bytes) {}
  MemoryBudget(const MemoryBudget&) = delete;
  MemoryBudget& operator=(const MemoryBudget&) = delete;

  std::uint64_t limit() const { return limit_; }
  // Bytes taken now.
  std::uint64_t used() const { return used_.load(); }
  // Takes `bytes`; false, taking nothing, when that would pass the limit.
  bool take(std::uint64_t bytes);
  // Gives back `bytes` that take() gave.
  void give(std::uint64_t bytes) { used_ -= bytes; }

 private:
  const std::uint64_t limit_;
  std::atomic<std::uint64_t> used_{0};
};

// The most memory an open image holds besides the copy of a stream: its
// read-ahead and straddle buffers (256 KiB each) and the records and index
// it keeps of its tracks; what it takes from a MemoryBudget when it opens.
// A budget of maxStreamBytes plus this reads one stream as far as it may go.
constexpr std::uint64_t kImageOverheadBytes =
    2 * 256 * 1024 +
    std::uint64_t{kTrackCount} * kMaxTrackRecords *
        (sizeof(SectorRecord) + 2 * sizeof(std::uint32_t));

// Limits that a caller may set for one open image.
struct OpenOptions {
  // Bytes read at most of an input with no size to tell (a pipe): a read
  // that needs more fails with Status::Code::kTooLarge.
  std::uint64_t maxStreamBytes = kMaxStreamBytes;
  // The budget this image takes its memory from, shared with other images;
  // null for none (the image is then bounded by maxStreamBytes alone). An
  // open or a read that the budget cannot hold fails with
  // Status::Code::kTooLarge.
  std::shared_ptr<MemoryBudget> budget;
};

// One disk of an image file, as its 688-byte header has it. A plain value:
// it stays valid when the image that gave it is closed.
struct Disk {
  int index = 0;            // 0 for the first disk of the file
  std::int64_t offset = 0;  // file offset of its header
  // File offset where its records end: the next disk's offset; for the last
  // disk the end of the file (INT64_MAX for a stream); for the 64th disk the
  // end its size field gives, or the file's end when that comes first.
  std::int64_t end = 0;
  // The name field up to its first zero byte, at most 16 bytes, as they
  // stand: a caller that shows it must make it safe to show.
  std::string name;
  std::uint8_t writeProtect = 0;  // 0x10 when the disk is write-protected
  std::uint8_t mediaType = 0;     // 0x00 2D, 0x10 2DD, 0x20 2HD, 0x30 1D, 0x40 1DD
  std::uint32_t size = 0;         // the size field, as the header has it
  // The track table: each track's offset from the disk's start; 0 when the
  // track is absent, and for the slots that a short table leaves to sector
  // data (a table ends where the first track begins).
  std::array<std::uint32_t, kTrackCount> tracks{};
};

// What the file holds after the disks that the search for disks took.
struct DirectoryTail {
  // Bytes after the last disk's end by its size field, too few to be a disk
  // header: they belong to no disk. 0 when the disks end with the file, or
  // when the last disk's size field is smaller than a disk header.
  std::int64_t trailingBytes = 0;
  // A whole disk header stands after the kMaxDisks-th disk: that disk and
  // any after it are not read.
  bool disksNotRead = false;
};

// The earliest track of `disk` whose table entry points at the same place as
// track `track`'s, when that is an earlier track: the two entries share one
// list of records, which a program lists, draws, compares and hashes once.
// -1 when `track` is absent, out of range, or the first entry of its place.
int sameRecordsAs(const Disk& disk, int track);

// Thread safety: an Image is used by one thread at a time; distinct Images
// share nothing and may be used on different threads at once.
class Image {
 public:
  // Opens `path` (UTF-8; "-" is standard input) and finds its disks. Fails
  // with kCannotOpen (errnum() set) when the file cannot be opened, with
  // kIoError when its first header cannot be read, with kNotD88Image when the file is plainly
  // something else (message() says why), and with kTooLarge when a stream
  // passes options.maxStreamBytes before its first disk is found, or when
  // options.budget cannot hold kImageOverheadBytes or the stream. Deciding
  // whether a file is a D88 image may walk the tracks of its first disk:
  // a read that fails there (kIoError, kOutOfMemory) fails the open too,
  // since nothing is then decided. A file shorter than one disk header
  // opens with no disk. On failure *image is left closed.
  [[nodiscard]] static Status open(const std::string& path, Image* image,
                                   const OpenOptions& options = OpenOptions());
  // As open(), over the `size` bytes at `data`, which the caller keeps
  // unchanged for as long as the image is open; kNotOpen when `data` is null
  // and `size` is not 0.
  [[nodiscard]] static Status openMemory(const std::uint8_t* data, std::size_t size, Image* image,
                                         const OpenOptions& options = OpenOptions());
  // As open(), over a file object of the caller's; the image owns it from
  // now on, and destroys it when it is closed, whether the open failed or not.
  [[nodiscard]] static Status openFile(std::unique_ptr<File> file, Image* image,
                                       const OpenOptions& options = OpenOptions());

  // A closed image: no disks, and every read fails with kNotOpen.
  Image();
  // Closes the file if this image opened it (standard input stays open).
  ~Image();
  // Closes the file as the destructor does, and forgets its disks; the
  // image can be opened again.
  void close();
  Image(Image&& other) noexcept;
  Image& operator=(Image&& other) noexcept;
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  bool isOpen() const;
  // Bytes of the open file; -1 when none is open or it has no size to tell.
  std::int64_t fileSize() const;

  // The disks found, at most kMaxDisks, in file order. Each starts where the
  // one before it ends by its size field; a size field smaller than a disk
  // header ends the list after that disk. The reference stays valid until
  // this image is opened again, moved from or destroyed.
  const std::vector<Disk>& disks() const;
  // Why the search for disks stopped before the bytes ran out: a read that
  // failed after at least one disk was found (the disks found read as
  // usual). Ok when the disks simply ended. The reference stays valid, and
  // its value the same, until this image is opened again, moved from or
  // destroyed.
  const Status& directoryEnd() const;
  // What follows the disks found (see DirectoryTail); all zero and false
  // when no image is open. Valid as directoryEnd() is.
  const DirectoryTail& directoryTail() const;
  // The first read of the file that failed since the open (an I/O error, a
  // stream past its limit, memory): every result since may lack data that
  // the file holds. Each call that met it has returned it too; this is the
  // summary a program gives at its end. Ok when none failed. The reference
  // stays valid until this image is opened again, moved from or destroyed;
  // its value changes when the first read fails.
  const Status& readFailure() const;

  // Makes disk `index` (0 to disks().size() - 1) the selected disk, for the
  // reads below; kNotFound when there is no such disk.
  [[nodiscard]] Status selectDisk(int index);
  // The selected disk's index; -1 when none is selected.
  int selectedDisk() const;
  // The selected disk; an empty Disk (index -1, no tracks) when none is.
  // Valid until the next selectDisk() or open, move or destruction.
  const Disk& disk() const;

  // Copies the data of the first record of track at.track whose identity is
  // exactly (c, h, r, n) into buffer, at most maxBytes, and sets *got to the
  // bytes copied. A search walks the track from its first record and ends at
  // a header whose record count is 0, or at the count of the header just
  // read. kNotFound when no disk is selected or the track or the sector is
  // not there; kCorruption when the disk or the file ends inside the sector
  // (*got says how much came). Ok says the sector was found, not that it is
  // sound: a sector the image marks bad (a data CRC error, say) is read as
  // the dump has it, and recordsOf() with isSoundRecord() tells.
  // maxBytes of 0 or less copies nothing.
  [[nodiscard]] Status readSector(const SectorAddress& at, std::uint8_t* buffer,
                                  std::int32_t maxBytes, std::int32_t* got);

  // Reads the run of totalBytes that starts at `first`, under `range`, sector
  // by sector to its end, for salvage: every sector found is copied into its
  // slot (a short one as far as its data goes); a slot whose sector is not
  // found is left as it was. With a null buffer nothing is copied and
  // bytesRead says what would be. One outcome per sector, in run order, each
  // with its own Status; none for totalBytes of 0 or less or a size code
  // outside 0 to kMaxSizeCode.
  std::vector<SectorOutcome> readRun(const SectorAddress& first, const SectorRange& range,
                                     std::uint8_t* buffer, std::int32_t totalBytes);

  // Copies the data of `record`, a record of the selected disk as a walk gave
  // it, into buffer: at most maxBytes and no more than it has
  // (dataAvailable). *got is the bytes copied; fewer than it has only when a
  // read failed, which is returned. With a null buffer nothing is copied and
  // *got says what would be. A caller that wanted more than *got names the
  // reason with shortRecordStatus().
  [[nodiscard]] Status readRecord(const SectorRecord& record, std::uint8_t* buffer,
                                  std::int32_t maxBytes, std::int32_t* got);

  // The records of at.track whose identity is exactly at's (c, h, r, n), in
  // record order, into *records: the first is the one readSector() reads, the
  // others its twins. None, and ok, when the sector is not there; kNotFound
  // when the track is not.
  [[nodiscard]] Status recordsOf(const SectorAddress& at, std::vector<SectorRecord>* records);

  // Sets *same to whether records a and b of the selected disk hold the same
  // data as far as their first maxBytes bytes: as many bytes up to there
  // (dataAvailable), and equal. Reads at most 2 x maxBytes; a read that
  // fails is returned, with *same false; kNotOpen when no image is open.
  [[nodiscard]] Status sameData(const SectorRecord& a, const SectorRecord& b,
                                std::int32_t maxBytes, bool* same);

  // Copies the bytes of the open file from `offset` on into buffer, at most
  // `size` of them, as they stand, whatever disk or record they belong to;
  // *got is fewer than `size` only where the file ends or a read failed. A
  // stream is read through the reader's copy of it, so no further than
  // its limit.
  [[nodiscard]] Status readBytes(std::int64_t offset, std::uint8_t* buffer, std::size_t size,
                                 std::size_t* got);

  // The records of `track` of the selected disk, in record order, up to and
  // with the first whose record count is 0, at most kMaxTrackRecords, and
  // why the walk ended (a failed read: TrackEnd::kReadError with its Status).
  // No records, ending kRecordCount, when the track is absent or out of range.
  TrackWalk walkTrack(int track);

 private:
  friend class ImageAccess;  // the reader's own layers
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace d88

#endif  // D88_IMAGE_H_
