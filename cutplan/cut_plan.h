// The cutting command's fixed plan: the twenty regions of disk 0 that become
// files, and how one of them is read from the image. d88cut writes them;
// d88ls reads them to say whether a disk holds every sector they take.
#ifndef D88CUT_CUTPLAN_CUT_PLAN_H_
#define D88CUT_CUTPLAN_CUT_PLAN_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <initializer_list>
#include <cstdint>
#include <string>
#include <vector>

#include <d88/image.h>

namespace d88 {

// One row of a numbered table: the first sector of a region (size code 3,
// head and cylinder taken from the track) and the bytes written.
struct CutEntry {
  std::int32_t track;
  std::int32_t sector;
  std::int32_t length;
};

// The MA and MB tables; each ends with a row whose sector is 0.
inline constexpr CutEntry kMaTable[] = {
    {40, 1, 2048}, {40, 3, 5120}, {40, 8, 4096}, {41, 4, 4096}, {42, 1, 2048},
    {42, 3, 2048}, {42, 5, 1024}, {42, 6, 3072}, {45, 1, 1024}, {0, 0, 0},
};
inline constexpr CutEntry kMbTable[] = {
    {39, 5, 1024}, {39, 6, 1024}, {39, 7, 1024}, {39, 8, 1024},
    {41, 8, 1024}, {45, 4, 1024}, {45, 5, 1024}, {45, 6, 1024}, {0, 0, 0},
};

// One cut: `length` bytes, after `skip` bytes passed over, of the run of
// sectors that starts at (c, h, r, n) on `track`, into the file `name`.
struct Cut {
  char name[8];
  std::int32_t track;
  std::int32_t c;
  std::int32_t h;
  std::int32_t r;
  std::int32_t n;
  std::int32_t skip;
  std::int32_t length;
};

// The size code of every sector the plan reads.
constexpr std::int32_t kPlanSizeCode = 3;

// The three cuts that come before the numbered tables.
inline constexpr Cut kFixedCuts[] = {
    {"PROG", 60, 30, 0, 1, kPlanSizeCode, 0, 81920},
    {"VD000", 37, 18, 1, 7, kPlanSizeCode, 0, 1792},
    {"VD001", 43, 21, 1, 6, kPlanSizeCode, 0, 1024},
};

constexpr int kCutCount = 20;
using CutPlan = std::array<Cut, kCutCount>;

// Sector numbers of every track of the disks the command cuts.
constexpr SectorRange kPlanSectorRange{1, 8};

// The bytes the largest cut reads (skip + length): what a buffer for one cut holds.
constexpr std::int32_t largestCutBytes() {
  std::int32_t largest = 0;
  for (const Cut& cut : kFixedCuts) largest = std::max(largest, cut.skip + cut.length);
  for (const CutEntry* table : {kMaTable, kMbTable}) {
    for (int i = 0; table[i].sector != 0; ++i) largest = std::max(largest, table[i].length);
  }
  return largest;
}
constexpr std::int32_t kLargestCutBytes = largestCutBytes();

// The twenty cuts in the order the command makes them: PROG, VD000, VD001,
// then the MA table, then the MB table.
const CutPlan& cutPlan();

// Another dump of the disk being cut, open with disk 0 selected, that a cut
// takes a sector from when the image does not hold it sound.
struct Spare {
  Image* image;
  std::string name;  // how messages name it
};

// Where the bytes of a sector of a cut came from: the image, or spare k (0, 1, ...).
constexpr int kFromImage = -1;

// What the cut of one region found in the image, sector by sector.
struct CutReadout {
  // The sectors the file takes bytes from, in run order: the copy each was
  // taken from (SectorOutcome::record), or the first-match outcome when
  // no copy is there.
  std::vector<SectorOutcome> sectors;
  // For each of `sectors`: kFromImage, or the index of the spare it came from.
  std::vector<int> source;
  // Bytes copied (or, without a buffer, that would be) into the file's slice.
  std::int64_t bytesRead = 0;
  // Indexes into `sectors`: those not read whole (not found, or short), and
  // those whose copy is marked bad (their bytes are still copied).
  std::vector<std::size_t> unread;
  std::vector<std::size_t> markedBad;
  // Indexes into `sectors` whose identity stands more than once in the
  // image's track, with copies whose bytes differ.
  std::vector<std::size_t> differingTwins;

  // Sectors taken from spare `k`.
  int takenFrom(int k) const {
    return static_cast<int>(std::count(source.begin(), source.end(), k));
  }

  // True when every sector came whole and none is marked bad.
  bool sound() const { return unread.empty() && markedBad.empty(); }
};

// Reads the run of `cut` from the selected disk of `image`, under the plan's
// sector range, into buffer[0, skip + length): for every sector the first
// sound copy (see isSoundRecord) of, in order, the image's first record of
// its identity in its track, the image's later twins there, and each
// spare's records of it, in the order of `spares`; when no copy is sound,
// the first copy there is. Every byte
// that no copy supplies is zero. With a null buffer nothing is copied and
// the readout says what a read would find.
CutReadout readCut(Image& image, const Cut& cut, std::uint8_t* buffer,
                   const std::vector<Spare>& spares = {});

// How another dump agrees with the image on the sectors of the plan.
struct SpareAgreement {
  int shared = 0;     // distinct plan sectors both hold sound
  int differing = 0;  // of those, the ones whose bytes differ (or could not be read)

  // A spare is a dump of the same disk when it shares a sound sector and
  // none of them differs.
  bool sameDisk() const { return shared > 0 && differing == 0; }
};

// Why another dump is not a dump of the same disk, in the words that follow
// "Note: DUMP is not used: ", naming the image it was weighed against as
// `imageName` (safe to show): "it shares no sound sector with IMAGE", or "D
// of the S sectors that both hold sound differ". Empty when it is one.
std::string spareRefusal(const SpareAgreement& agreement, const std::string& imageName);

// Compares, sector by sector of the plan, the first sound copy in the
// selected disk of `image` with the first sound copy in that of `spare`.
SpareAgreement compareWithSpare(Image& image, Image& spare);

// True when the selected disk of `image` holds at least one byte of one
// sector that the plan reads.
bool planFindsAnySector(Image& image);

// True when some track of the selected disk of `image` holds a record of the
// plan's kind: size code kPlanSizeCode, numbered within kPlanSectorRange,
// wherever it stands. A disk of another layout (256-byte sectors, say) holds
// none, and the plan does not apply to it at all.
bool diskHoldsPlanKindOfSector(Image& image);

}  // namespace d88

#endif  // D88CUT_CUTPLAN_CUT_PLAN_H_
