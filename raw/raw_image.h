// A raw sector image of one disk of a D88 file: every sector of a fixed
// geometry in order, track by track, with filler where the image holds no
// bytes, and a record of every sector that is not whole and sound and of
// every record the layout cannot hold.
#ifndef D88CUT_RAW_RAW_IMAGE_H_
#define D88CUT_RAW_RAW_IMAGE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <d88/image.h>

namespace d88 {

// Sectors a track of a raw image holds at most (R is one byte).
constexpr int kMaxRawSectors = 255;
// Bytes a raw image may have at most: far above any floppy disk (a 2HD disk
// is 1.2 MiB), low enough that a mistyped geometry cannot fill a disk.
constexpr std::uint64_t kMaxRawBytes = 512u * 1024u * 1024u;

// The layout of a raw image: `tracks` tracks of `sectors` sectors numbered
// from firstR, each of sectorBytes(sizeCode) bytes. With two heads, raw
// track i is the disk's track number i (cylinder i / 2, head i % 2); with
// one, it is cylinder i, head 0 (track number 2 x i), so `tracks` counts
// cylinders.
struct RawGeometry {
  int tracks = 0;
  int heads = 2;
  int sectors = 0;
  int firstR = 1;
  int sizeCode = 0;

  // The track number 2 x C + H of raw track `index`.
  int trackNumber(int index) const { return heads == 1 ? 2 * index : index; }
};

// Bytes of the raw image: tracks x sectors x sector bytes.
std::uint64_t rawImageBytes(const RawGeometry& geometry);
// As --geometry takes it: "TxSxB" with two heads ("77x8x1024"), "Cx1xSxB"
// with one ("40x1x16x256").
std::string geometryText(const RawGeometry& geometry);

// Parses a decimal number or a 0x hex one, at most `max`; false for anything
// else (a sign, a space, no digits, too large).
bool parseRawNumber(const char* text, std::uint64_t max, std::uint64_t* value);

// Splits `text` into `count` numbers separated by x, as parseRawNumber
// takes them, into *parts ("80x16x0x100" into 80, 16, 0x100 for three);
// false when it does not hold that many.
bool splitNumbers(const std::string& text, std::size_t count, std::vector<std::string>* parts);

// Parses "TxSxB" (T tracks of two heads) or "CxHxSxB" (C cylinders of H
// heads, 1 or 2), numbers as parseRawNumber takes them, into the tracks,
// heads, sectors and size code of *geometry, and checks it as checkGeometry
// does. False, with the reason in *why, for anything else; *geometry is then
// as it was.
bool parseGeometry(const char* text, RawGeometry* geometry, std::string* why);

// True when the geometry can be written: 1 to kTrackCount tracks (of 1 or 2
// heads), 1 to
// kMaxRawSectors sectors whose numbers stay within 0 to 255, a size code of
// 0 to kMaxSizeCode and at most kMaxRawBytes in all. Else false with the
// reason in *why.
bool checkGeometry(const RawGeometry& geometry, std::string* why);

// The selected disk's most common layout: its heads (diskLayout); tracks,
// or cylinders for one head, up to the last whose table entry is not 0; the
// sector numbers first..last that most tracks with records have (the lowest
// on a tie); the size code most records have. Sectors 0 when the disk holds
// no record; tracks 0 when it has no track.
RawGeometry usualGeometry(Image& image);

// What a map entry is about. The first four are sectors of the raw image, in
// the order they are named when several hold for one; the last four are
// records of the disk that the raw image cannot hold.
enum class RawKind {
  kMissing,    // not in the image: filled
  kShort,      // the image holds fewer bytes than its size: the rest filled
  kMarkedBad,  // the image marks it bad: copied as it is
  kOtherCH,    // its C or H is not its track's: used all the same
  kTwin,       // the same R and N again in the track: left out
  kExtra,      // R outside the geometry's numbers: left out
  kOtherSize,  // R within them, another size code: left out
  kOtherTrack, // on a track past the geometry's last: left out
};
constexpr int kRawKinds = 8;

// "missing", "short", "marked bad", "other C/H", "twin", "extra", "other size",
// "other track".
const char* rawKindName(RawKind kind);

// One sector of the raw image that is not whole and sound, or one record
// left out of it.
struct RawEntry {
  RawKind kind = RawKind::kMissing;
  int track = 0;             // the track number 2 x C + H under the disk's layout
  SectorId id{};             // the record's identity; for a missing sector the one sought
  std::int64_t offset = -1;  // where the sector stands in the raw image; -1 when left out
  std::int32_t bytes = 0;    // bytes copied from the image into it; 0 when left out
  bool hasRecord = false;    // false for a missing sector
  SectorRecord record{};     // the record, when there is one
};

// What holds for the entry, in words: the record's status (statusMeaning),
// "deleted data" when only its mark says so, "short" and "C/H not the
// track's" when they hold; "not in the image" for a missing sector.
std::vector<std::string> rawStatusWords(const RawEntry& entry);

// The entry as one JSON object: track, c, h, r, n, kind, offset (sectors of
// the raw image only), bytes and status.
std::string rawEntryJson(const RawEntry& entry);

// Where a conversion goes. Either call returns false to stop it.
class RawSink {
 public:
  virtual ~RawSink() = default;
  // The raw image's next bytes, in order.
  virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
  // An entry, in track order; within a track the sectors by R, then the
  // records left out in record order.
  virtual bool entry(const RawEntry& entry) = 0;
};

// How a conversion went.
struct RawSummary {
  std::uint64_t sectors = 0;  // sectors of the raw image written
  std::uint64_t bytes = 0;    // bytes written
  // For each kind, how many sectors or records it holds for, and the first.
  std::array<std::uint64_t, kRawKinds> counts{};
  std::array<RawEntry, kRawKinds> first{};
  Status failure;        // a read of the image that failed: the output is not to be kept
  bool stopped = false;  // the sink stopped the conversion
  // A one-head image of a disk whose media byte names two sides (2D, 2DD,
  // 2HD) and on which no track is of head 1: a dump that lost head 1.
  bool headOneLost = false;
  // Every sector there, whole and sound, no record left out, and no head
  // lost. Records with another C or H do not count against it: their bytes
  // are there.
  bool whole() const;
};

// Writes the raw image of the selected disk of `image` under `geometry`
// (checked by checkGeometry) into `sink`, one track at a time, each from the
// slot that the disk's layout (diskLayout) keeps it in: each sector is
// the first record of its track with its R and the geometry's size code,
// whatever its C and H, cut or filled with `fill` to the sector size. Holds
// one record's bytes and a fixed filler block at a time.
RawSummary convertToRaw(Image& image, const RawGeometry& geometry, std::uint8_t fill,
                        RawSink& sink);

}  // namespace d88

#endif  // D88CUT_RAW_RAW_IMAGE_H_
