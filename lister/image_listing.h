// What an image holds, gathered through the reader for display: a summary of
// each disk, the records of each track with what a user should notice, and
// whether disk 0 holds every sector the cutting command reads.
#ifndef D88CUT_LISTER_IMAGE_LISTING_H_
#define D88CUT_LISTER_IMAGE_LISTING_H_

#include <cstdint>
#include <string>
#include <vector>

#include <d88/d88_image.h>

namespace d88 {

struct TrackListing {
  int track = 0;
  int c = 0;  // the track's own cylinder and head: track / 2, track % 2
  int h = 0;
  std::vector<SectorId> records;  // in record order
  int usualN = 0;                 // the size code most records carry
  std::vector<int> duplicates;    // indexes of records whose identity came earlier
  std::vector<int> mismatched;    // indexes of records whose C or H is not the track's
  std::vector<int> missingR;      // sector numbers absent from 1 (or the lowest) to the highest
  int usualRecords = 0;           // the record count most tracks of the disk have (listTracks)
};

struct DiskSummary {
  int index = 0;
  std::int32_t offset = 0;
  std::int32_t size = 0;
  int mediaType = 0;
  std::string name;  // as stored: often Shift_JIS
  int tracks = 0;    // tracks that hold at least one record
  int minSectors = 0;
  int maxSectors = 0;
  std::vector<int> sizeCodes;  // distinct, ascending
};

struct CutCoverage {
  int sectors = 0;  // sectors the cutting command reads
  int missing = 0;  // of those, the ones that cannot be read whole
  std::vector<SectorAddress> firstMissing;  // the first few, in plan order
};

// Records listed per track at most; a track whose headers say it has no
// records would otherwise be listed on through the rest of the file.
constexpr int kMaxListedRecords = 1024;
constexpr int kFirstMissingShown = 3;

// The records of `track` of the selected disk; no records when it is absent.
TrackListing listTrack(D88Image& image, int track);
// Every track of the selected disk that holds records, in track order.
std::vector<TrackListing> listTracks(D88Image& image);
// Selects disk `index` and sums it up; false when it cannot be selected. The
// tracks listed on the way go to `tracks` when it is given.
bool summarizeDisk(D88Image& image, int index, DiskSummary* summary,
                   std::vector<TrackListing>* tracks = nullptr);
// Which sectors of the cut plan the selected disk lacks. Sets the plan's sector range.
CutCoverage checkCutPlan(D88Image& image);
// "2D", "2DD" or "2HD" for the known media bytes, nullptr for any other.
const char* mediaName(int mediaType);

}  // namespace d88

#endif  // D88CUT_LISTER_IMAGE_LISTING_H_
