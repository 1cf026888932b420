// The cutting command's fixed plan: the twenty regions of disk 0 that become
// files, and the routine that cuts one of them.
#ifndef D88CUT_CUTTER_CUT_PLAN_H_
#define D88CUT_CUTTER_CUT_PLAN_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <d88/d88_image.h>

namespace d88 {

// One row of a numbered table: the first sector of a region (size code 3,
// head and cylinder taken from the track) and the bytes written.
struct CutEntry {
  std::int32_t track;
  std::int32_t sector;
  std::int32_t length;
};

// The MA and MB tables; each ends with a row whose sector is 0.
extern const CutEntry kMaTable[];
extern const CutEntry kMbTable[];

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

constexpr int kCutCount = 20;
using CutPlan = std::array<Cut, kCutCount>;

// Sector numbers of every track of the disks the command cuts.
constexpr std::int32_t kPlanFirstSector = 1;
constexpr std::int32_t kPlanLastSector = 8;

// Bytes of the transfer buffer: a whole 2HD disk, 77 x 2 x 8 x 1,024.
constexpr std::int32_t kTransferBufferSize = 0x134000;

// The twenty cuts in the order the command makes them: PROG, VD000, VD001,
// then the MA table, then the MB table.
const CutPlan& cutPlan();

// "track T (C c, H h, R r, N n)": how the command's messages name a sector.
std::string sectorAddressText(const SectorAddress& address);

// What the cut of one region found in the image, sector by sector.
struct CutReadout {
  // The sectors the file takes bytes from, in run order.
  std::vector<SectorOutcome> sectors;
  // Bytes copied from the image into the file's slice, in all.
  std::int64_t bytesRead = 0;
  // Indexes into `sectors`: those not read whole (not found, or short), and
  // those the image marks bad (their bytes are still copied).
  std::vector<std::size_t> unread;
  std::vector<std::size_t> markedBad;

  // True when every sector came whole and none is marked bad.
  bool sound() const { return unread.empty() && markedBad.empty(); }
};

// Reads the run of `cut` from the selected disk of `image`, with the plan's
// sector range, into buffer[0, skip + length): every sector that is there is
// copied, and every byte that no sector supplies is zero.
CutReadout readCut(D88Image& image, const Cut& cut, std::uint8_t* buffer);

// Cuts one region of the selected disk of `image` into the file `name` in the
// current directory. Prints the progress line on standard output, and on
// standard error a warning when sectors could not be read (their bytes are
// written as zero) or are marked bad in the image, or an error when the file
// could not be written (an earlier file of that name then stays as it was).
// True only when the file was written whole from sectors that were all there
// and sound.
bool cutFile(D88Image& image, const char* name, std::int32_t track, std::int32_t c,
             std::int32_t h, std::int32_t r, std::int32_t n, std::int32_t skip,
             std::int32_t length);

enum class CutResult {
  kWhole,             // all twenty files written whole from sound sectors
  kDamaged,           // all cut, but at least one warning or error was printed
  kNothingToSalvage,  // not one byte of any cut sector is there: nothing written
};

// Cuts every file of the plan from the selected disk of `image`, in plan
// order. When the disk holds not one byte of any sector the plan reads,
// nothing is written or printed. An output whose name is the image file
// itself (`imagePath`) is reported and never written.
CutResult cutAllFiles(D88Image& image, const char* imagePath);

}  // namespace d88

#endif  // D88CUT_CUTTER_CUT_PLAN_H_
