// What an image holds, gathered through the reader for display: a summary of
// each disk, the records of each track with what a user should notice, and
// whether disk 0 holds every sector the cutting command reads.
#ifndef D88CUT_LISTER_DISK_SURVEY_H_
#define D88CUT_LISTER_DISK_SURVEY_H_

#include <cstdint>
#include <string>
#include <vector>

#include <d88/image.h>
#include <d88/status.h>

#include "track_counts.h"

namespace d88 {

struct TrackListing {
  int track = 0;
  int c = 0;  // the track's own cylinder and head, as the disk's layout places it
  int h = 0;
  std::vector<SectorRecord> records;  // in record order
  TrackEnd end = TrackEnd::kRecordCount;  // why the walk of the track ended
  std::int64_t endOffset = 0;             // where: see TrackWalk::endOffset
  Status error;                           // TrackEnd::kReadError: why
  int usualN = 0;                     // the size code most records carry
  std::vector<int> duplicates;        // indexes of records whose identity came earlier
  std::vector<int> differingDuplicates;  // those whose first 16 KiB differ from the first copy's
  std::vector<int> mismatched;        // indexes of records whose C or H is not the track's
  std::vector<int> missingR;          // sector numbers absent from 1 (or the lowest) to the highest
  std::vector<int> markedBad;         // indexes of records the image marks unreadable
  std::vector<int> deleted;           // indexes of records of deleted data
  std::vector<int> singleDensity;     // indexes of single-density records
  std::vector<int> cutOff;            // indexes of records whose data the disk holds only in part
  int usualRecords = 0;               // the record count most tracks of the disk have (listTracks)
  // The earlier track whose table entry points at the same place as this
  // one's (sameRecordsAs), as listTracks() gives it: the records are that
  // track's, listed there once, so none are walked or kept here. -1 for a
  // track listed with its own records.
  int sameAs = -1;
};

// The layout the tracks of a disk hold, as most of them have it.
struct TrackLayout {
  int cylinders = 0;
  int heads = 0;
  int sectors = 0;      // records per track
  int sectorBytes = 0;  // 128 << the usual size code
  // "1D", "1DD", "2D", "2DD" or "2HD": the kind of disk that holds it
  const char* media = nullptr;
};

struct DiskSummary {
  int index = 0;
  std::int64_t offset = 0;
  std::uint32_t size = 0;  // the size field, as the header has it
  int mediaType = 0;
  bool writeProtected = false;
  std::string name;  // as stored: often Shift_JIS
  TrackCounts counts;  // tracks that hold records, records per track, size codes
  TrackLayout layout;          // cylinders 0 when no track holds records
  // What deserves a look at the level of the disk, in words.
  std::vector<std::string> problems;
  // The disk's content fingerprint (contentSha256) in 64 hex digits when it
  // was asked for; else empty.
  std::string contentSha256;
};

// One sector the cutting command reads that did not come whole or sound.
struct PlanSector {
  const char* file;  // the output it belongs to
  SectorOutcome outcome;
};

// How the cut plan fits disk 0, as a whole.
enum class CutFit {
  kNone,        // no record of the plan's kind anywhere (see diskHoldsPlanKindOfSector):
                // a disk of another layout, which the plan does not apply to
  kWhole,       // every sector read whole, none marked bad
  kIncomplete,  // some sector not read whole; others may be marked bad as well
  kMarked,      // every sector read whole, some marked bad
};

// The kind as JSON names it: "none", "whole", "incomplete" or "marked".
const char* cutFitName(CutFit fit);

// What the cutting command would find on disk 0, from the very walk it makes.
struct CutCoverage {
  int sectors = 0;                    // sectors the cutting command reads
  int found = 0;                      // of those, the ones the disk holds a record of
  CutFit fit = CutFit::kWhole;
  std::vector<PlanSector> unread;     // not read whole, in plan order
  std::vector<PlanSector> markedBad;  // marked bad in the image, in plan order
};

// Sectors named on the coverage line of the text listing; JSON lists all.
constexpr int kFirstMissingShown = 3;

// The records of `track` of the selected disk, its C and H as `layout`
// places it; no records when it is absent.
TrackListing listTrack(Image& image, int track, const DiskLayout& layout = DiskLayout());
// Every track of the selected disk that holds records, in track order. A
// track that shares its records with an earlier listed track comes with only
// sameAs set, so that a table whose entries all point at one track costs one
// walk and one listing of its records.
std::vector<TrackListing> listTracks(Image& image);
// Selects disk `index` and sums it up; false when it cannot be selected. Its
// tracks are listed into `tracks` when it is given.
bool summarizeDisk(Image& image, int index, DiskSummary* summary,
                   std::vector<TrackListing>* tracks = nullptr);
// Which sectors of the cut plan the selected disk lacks or marks bad, found
// as the cutting command reads them, and how the plan fits the disk.
CutCoverage checkCutPlan(Image& image);
// Why a walk ended, in words, for the listing's marks; empty for a walk that
// ended by its record count.
std::string trackEndText(const TrackListing& track);

}  // namespace d88

#endif  // D88CUT_LISTER_DISK_SURVEY_H_
