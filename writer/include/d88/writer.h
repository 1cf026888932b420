// The writer of D88 images: disks laid out from tracks of records, written
// through a caller's sink. What it writes reads back through d88::Image as
// the same records, in the same order, with the same bytes: a full 164-entry
// track table, tracks in table order after the header, and in every record
// header its track's record count and a data size equal to the data it
// carries. It never prints and keeps no state between calls; a disk it
// cannot write so is refused with a Status before any byte is written.
#ifndef D88_WRITER_H_
#define D88_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <d88/format.h>
#include <d88/status.h>

namespace d88 {

// Data bytes one record can carry: its size field is 16 bits.
constexpr std::uint32_t kMaxRecordDataBytes = 0xFFFF;
// Bytes one disk may take at most: its size field is 32 bits, so 4 GiB or
// more is refused.
constexpr std::uint64_t kMaxWrittenDiskBytes = 0xFFFFFFFFu;

// One record as the writer lays it out: its header's fields and the length
// of its data, without the data.
struct RecordLayout {
  SectorId id{};
  std::uint8_t density = 0x00;      // kDensitySingle for FM
  std::uint8_t deletedMark = 0x00;  // kDeletedDataMark when it carries the mark
  std::uint8_t status = kStatusNormal;
  std::uint32_t dataSize = 0;       // data bytes it carries, at most kMaxRecordDataBytes
};

// One disk as the writer lays it out: its header and, for each table slot
// in order, the records of that track in record order. A slot with no
// records is an absent track (table entry 0). At most kTrackCount slots.
struct DiskPlan {
  std::string name;                 // at most kNameLength bytes, no zero byte
  std::uint8_t writeProtect = 0x00; // kWriteProtected when protected
  std::uint8_t mediaType = kMedia2HD;
  std::vector<std::vector<RecordLayout>> tracks;
};

// Checks that `layout` can be written and reads back as it is, and sets
// *diskSize (when not null) to the bytes it takes. kCorruption names the
// first thing refused: a name over kNameLength bytes or with a zero byte, a
// write-protect byte other than 0x00 and kWriteProtected, more than
// kTrackCount tracks, a track of more than kMaxTrackRecords records, a
// record of more than kMaxRecordDataBytes, a disk of more than
// kMaxWrittenDiskBytes (4 GiB or more).
[[nodiscard]] Status checkDiskPlan(const DiskPlan& layout, std::uint64_t* diskSize);

// Where written bytes go, in order. A failure stops the writing and is
// returned by the call that wrote.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  [[nodiscard]] virtual Status write(const std::uint8_t* data, std::size_t size) = 0;
};

// A sink that appends to a caller's vector.
class VectorSink : public ByteSink {
 public:
  explicit VectorSink(std::vector<std::uint8_t>* bytes) : bytes_(bytes) {}
  Status write(const std::uint8_t* data, std::size_t size) override;

 private:
  std::vector<std::uint8_t>* bytes_;
};

// Gives the data of each record as the writer reaches it, in layout order.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // Fills buffer[0, record.dataSize) with the data of record `index` of
  // track `track`; a failure stops the writing and is returned.
  [[nodiscard]] virtual Status data(int track, std::size_t index, const RecordLayout& record,
                                    std::uint8_t* buffer) = 0;
};

// Writes one disk laid out as `layout` (checked by checkDiskPlan first)
// into `sink`, asking `source` for each record's data as it goes: memory
// stays one record's data and one track's headers, whatever the disk's size.
[[nodiscard]] Status writeDisk(const DiskPlan& layout, RecordSource& source, ByteSink& sink);

// One record with its data, for a disk built whole in memory.
struct RecordContent {
  SectorId id{};
  std::uint8_t density = 0x00;
  std::uint8_t deletedMark = 0x00;
  std::uint8_t status = kStatusNormal;
  std::vector<std::uint8_t> data;
};

// A disk built whole in memory: the header's fields and the records of each
// slot, as DiskPlan has them.
struct DiskContent {
  std::string name;
  std::uint8_t writeProtect = 0x00;
  std::uint8_t mediaType = kMedia2HD;
  std::vector<std::vector<RecordContent>> tracks;
};

// The layout of `disk`: its records without their data.
DiskPlan planOf(const DiskContent& disk);

// Writes `disks` back to back, as one D88 file of several disks, into
// `sink`: each checked by checkDiskPlan before any byte is written, and
// at most kMaxDisks of them (more is kCorruption).
[[nodiscard]] Status writeDisks(const std::vector<DiskContent>& disks, ByteSink& sink);

}  // namespace d88

#endif  // D88_WRITER_H_
