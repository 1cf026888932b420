// A picture of one disk as SVG: one row per cylinder, head 0 on the left and
// head 1 on the right, one cell per record in record order, as wide as its
// data, coloured by its state. On disk 0 the sectors the cutting command reads
// are outlined and each file is named at its first sector; plan sectors the
// disk lacks are drawn as hatched slots after their track's records.
//
// Every cell carries data-track and data-r (decimal) and data-state; a cell of
// the cut plan also data-file. A missing plan sector carries data-missing="1",
// data-track, data-r and data-file, and no data-state. Each has a <title> with
// its fields for a browser to show on hover.
#ifndef D88CUT_LISTER_DISK_PICTURE_H_
#define D88CUT_LISTER_DISK_PICTURE_H_

#include <string>
#include <vector>

#include <d88/image.h>

#include "image_listing.h"

namespace d88 {

// What a record's cell shows. A record can be several of these at once; see
// recordState() for which one it is drawn as.
enum class CellState {
  kSound,
  kDeleted,
  kIdCrc,
  kDataCrc,
  kNoAddressMark,
  kNoDataMark,
  kUnknownStatus,
  kShort,
  kForeign,
  kTwin,
};

// The state's name as data-state and the legend give it: "sound", "deleted",
// "id-crc", "data-crc", "no-address-mark", "no-data-mark", "unknown-status",
// "short", "foreign" or "twin".
const char* cellStateName(CellState state);

// The one state a record is drawn in: the first of these that holds.
//   1. a bad status (id-crc, data-crc, no-address-mark, no-data-mark,
//      unknown-status): what the controller reported outweighs the rest;
//   2. short: the disk holds fewer bytes than its size code N says (or N is
//      out of range), so its data cannot be whole;
//   3. twin: another record of the track carries the same C, H, R, N, so a
//      read may take either;
//   4. foreign: its C or H is not the track's own (track / 2, track % 2);
//   5. deleted: deleted data, by status or mark; the bytes are sound;
//   6. sound.
// `twin` says whether the track holds another record of its identity.
CellState recordState(const SectorRecord& record, int trackC, int trackH, bool twin);

// For each record of `track`, whether another record of it has the same identity.
std::vector<bool> twinRecords(const TrackListing& track);

// One sector the cutting command reads: its file and what a read of it found.
struct PlanSlot {
  const char* file;     // "PROG", "MA002", ...
  bool first;           // the file's first sector
  SectorOutcome outcome;
};

// What a picture of a disk shows.
struct DiskPicture {
  std::string imagePath;                // as the user named it (UTF-8 or not)
  DiskSummary disk;
  std::vector<TrackListing> tracks;     // tracks that hold records, in track order
  std::vector<PlanSlot> plan;           // disk 0 only: every sector of the cut plan
  int lastTrack = -1;                   // the highest track with a table entry, a
                                        // record or a plan sector; -1 when none
};

// Selects disk `index` of `image` and gathers its picture; false when it
// cannot be selected. Reads at most every track's walk and the plan's runs.
bool gatherDiskPicture(Image& image, int index, const std::string& imagePath,
                       DiskPicture* picture);

// The picture as one SVG document. Everything taken from the image or the
// path is escaped for XML; at most 164 tracks of 256 records are drawn, so
// the document stays within a few megabytes.
std::string diskPictureSvg(const DiskPicture& picture);

}  // namespace d88

#endif  // D88CUT_LISTER_DISK_PICTURE_H_
