// The D88 format as values: the limits the reader keeps to, a sector's
// identity and address, one sector record as its header has it, and the
// small rules every caller shares (what a status byte means, when a record
// can be trusted, which sector follows another in a run). Nothing here reads
// a file.
#ifndef D88_FORMAT_H_
#define D88_FORMAT_H_

#include <cstddef>
#include <cstdint>
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

// A byte as "0xNN" (two upper-case hex digits), as messages show one; only
// the low 8 bits count.
std::string hexByte(unsigned value);

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
// The media bytes of a disk header that the format knows.
constexpr std::uint8_t kMedia2D = 0x00;
constexpr std::uint8_t kMedia2DD = 0x10;
constexpr std::uint8_t kMedia2HD = 0x20;
constexpr std::uint8_t kMedia1D = 0x30;
constexpr std::uint8_t kMedia1DD = 0x40;
// True for one of those.
bool isKnownMedia(std::uint8_t media);

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
// The order of sectors by identity: by C, then H, then R, then N. Listings
// and comparisons that sort sectors all sort them so.
bool identityBefore(const SectorId& a, const SectorId& b);
// The positions of `records` in that order into *order; records of one
// identity keep their record order, so that twins pair up in it.
void orderByIdentity(const std::vector<SectorRecord>& records, std::vector<std::size_t>* order);

// Why `record` gives fewer than `wanted` bytes: it holds fewer than that
// ("the sector holds 512 of 1024 bytes"), or the disk or the file ends
// inside its data.
Status shortRecordStatus(const SectorRecord& record, std::int32_t wanted);

// What became of one sector of a run read by Image::readRun().
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

}  // namespace d88

#endif  // D88_FORMAT_H_
