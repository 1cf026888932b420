// What a picture of one disk shows: the disk's tracks and records, the state
// each record is drawn in, and on disk 0 the sectors the cutting command
// reads. picture_svg.h draws it.
#ifndef D88CUT_LISTER_DISK_PICTURE_H_
#define D88CUT_LISTER_DISK_PICTURE_H_

#include <string>
#include <vector>

#include <d88/image.h>

#include "disk_survey.h"

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
                                        // (as listTracks() gives them)
  std::vector<PlanSlot> plan;           // disk 0 only, when it holds at least one of
                                        // them: every sector of the cut plan
  bool planNotHeld = false;             // disk 0 holds none of the plan's sectors
  int lastTrack = -1;                   // the highest track with a table entry, a
                                        // record or a plan sector, or for a disk
                                        // without records the last its media byte
                                        // names; -1 when none
};

// Selects disk `index` of `image` and gathers its picture; false when it
// cannot be selected. Reads at most every track's walk and the plan's runs.
bool gatherDiskPicture(Image& image, int index, const std::string& imagePath,
                       DiskPicture* picture);

}  // namespace d88

#endif  // D88CUT_LISTER_DISK_PICTURE_H_
