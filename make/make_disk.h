// A D88 disk made from a raw sector image: the raw image's sectors, in
// order, laid out as tracks of records, with what d88raw's map says of each
// sector (left out, marked bad, short, another C or H) given back.
#ifndef D88CUT_MAKE_MAKE_DISK_H_
#define D88CUT_MAKE_MAKE_DISK_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <d88/status.h>
#include <d88/writer.h>

#include "system_file.h"

namespace d88 {

// The largest size code a record can carry whole: 128 << 8 is 32,768
// bytes; 128 << 9 passes the 16-bit data size.
constexpr int kMaxMakeSizeCode = 8;
// Cylinders a full track table holds: track C, H stands in slot 2 x C + H.
constexpr int kMaxMakeCylinders = kTrackCount / 2;

// The layout of the raw image: cylinder-major, then head, then sectors R
// from firstR on, each of 128 << sizeCode bytes.
struct MakeGeometry {
  int cylinders = 0;
  int heads = 0;
  int sectors = 0;
  int firstR = 1;
  int sizeCode = 0;
};

// Bytes of the raw image the geometry takes.
std::uint64_t makeRawBytes(const MakeGeometry& geometry);
// "CxHxSxB", as --geometry takes it: "77x2x8x1024".
std::string makeGeometryText(const MakeGeometry& geometry);

// Parses "CxHxSxB" (numbers decimal or 0x hex) into *geometry, keeping its
// firstR, and checks it as checkMakeGeometry does. False with the reason in
// *why; *geometry is then as it was.
bool parseMakeGeometry(const char* text, MakeGeometry* geometry, std::string* why);
// True when the geometry can be written: 1 to kMaxMakeCylinders cylinders,
// 1 or 2 heads, 1 to 255 sectors whose numbers stay within 0 to 255, a size
// code of 0 to kMaxMakeSizeCode. Else false with the reason in *why.
bool checkMakeGeometry(const MakeGeometry& geometry, std::string* why);

// The media byte a disk of this geometry carries: 1D or 2D up to 42
// cylinders, else 2HD from 6,144 bytes a track (8 x 1024, 26 x 256), else
// 1DD or 2DD; the 1 forms for one head.
std::uint8_t usualMedia(const MakeGeometry& geometry);
// The media byte of "2D", "2DD", "2HD", "1D" or "1DD" (any case); false for another word.
bool parseMediaName(const char* text, std::uint8_t* media);
// "2D", "2DD", "2HD", "1D", "1DD" for those bytes; "0xNN" for another.
std::string mediaWord(std::uint8_t media);

// What d88raw's map says of one sector of the raw image.
struct SectorFix {
  bool leftOut = false;        // the map says d88raw filled it: no record
  SectorId id{};               // the record's identity (its C and H may be another track's)
  std::uint8_t status = 0;     // the status its words name
  std::uint8_t deletedMark = 0;
  std::int32_t bytes = -1;     // the bytes the record held, when fewer than the sector's; else -1
};

// A map of d88raw read for one raw image: the fixes by sector index in the
// raw image (offset / sector bytes), and what it counted.
struct RawMapFixes {
  std::map<std::uint64_t, SectorFix> sectors;
  int leftOut = 0;
  int markedBad = 0;
  int shortened = 0;
};

// Largest map read: above the map of any disk (about 13 MB for the most
// sectors and records a disk can hold).
constexpr std::size_t kMaxMapBytes = 32u * 1024u * 1024u;

// Reads d88raw's map `text` for a raw image of `geometry`: its geometry
// must be the same sectors of the same bytes from the same first R, and as
// many bytes in all. Entries with an offset are sectors of the raw image;
// those without name records the raw image never held, and are passed over.
// False with the reason in *why.
bool readRawMap(const std::string& text, const MakeGeometry& geometry, RawMapFixes* fixes,
                std::string* why);

// The header fields of the disk made.
struct MakeHeader {
  std::string name;
  std::uint8_t writeProtect = 0;
  std::uint8_t mediaType = 0;
  bool singleDensity = false;
};

// The disk's layout: track C, H in slot 2 x C + H (one head too), its
// sectors R in order, each with the C, H, R, N of its place unless `fixes`
// (may be null) say otherwise; for each record, in *rawOffsets (per slot,
// in record order), where its data stands in the raw image.
DiskPlan makeLayout(const MakeGeometry& geometry, const MakeHeader& header,
                      const RawMapFixes* fixes, std::vector<std::vector<std::uint64_t>>* rawOffsets);

// Reads the raw image in order, once, through a window: a stream (standard
// input) is never held whole, a file is read ahead in large pieces. Gives
// each record its data as the writer asks for it, in layout order, which is
// the raw image's order, and counts every byte, so that its size can be
// checked at the end.
class RawImageSource : public RecordSource {
 public:
  RawImageSource(SystemFile& file, const std::vector<std::vector<std::uint64_t>>& rawOffsets)
      : file_(file), offsets_(rawOffsets) {}
  Status data(int track, std::size_t index, const RecordLayout& record,
              std::uint8_t* buffer) override;
  // Reads on to the end, or past `most` bytes at most: *total receives the
  // raw image's bytes, or `most` + 1 or more for one that goes on past it
  // (an endless stream ends the run, not the machine's patience).
  Status readToEnd(std::uint64_t most, std::uint64_t* total);

 private:
  Status fill();
  Status skipTo(std::uint64_t offset);

  SystemFile& file_;
  const std::vector<std::vector<std::uint64_t>>& offsets_;
  std::vector<std::uint8_t> window_;
  std::size_t windowAt_ = 0;   // the next byte of the window to give
  std::uint64_t position_ = 0; // raw offset of window_[windowAt_]
  bool ended_ = false;
};

}  // namespace d88

#endif  // D88CUT_MAKE_MAKE_DISK_H_
