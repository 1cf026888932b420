// How the tracks of a disk are laid out, summed up in the words that d88ls's
// disk line and d88cut's notes show.
#ifndef D88CUT_CONSOLE_TRACK_COUNTS_H_
#define D88CUT_CONSOLE_TRACK_COUNTS_H_

#include <string>
#include <vector>

#include <d88/disk_layout.h>
#include <d88/image.h>

namespace d88 {

struct TrackCounts {
  int tracks = 0;       // tracks whose walk gives at least one record
  int minRecords = 0;   // the fewest and most records of those tracks
  int maxRecords = 0;
  std::vector<int> sizeCodes;  // the size codes N seen, distinct, ascending
  // What most of them have (the smallest on a tie): the record count of a
  // track, and the size code of a record. 0 when no track has records.
  int usualRecords = 0;
  int usualSizeCode = 0;
  int lastTrack = -1;      // the highest track with records; -1 when none
  DiskLayout layout;       // its heads and where its tracks stand (diskLayout)
};

// The layout of the selected disk of `image`, from the walks of all its tracks.
TrackCounts countTracks(Image& image);

// "80 tracks, 16 sectors/track, N 1", "154 tracks, 5-8 sectors/track, N 2,3"
// or "0 tracks".
std::string trackCountsText(const TrackCounts& counts);

}  // namespace d88

#endif  // D88CUT_CONSOLE_TRACK_COUNTS_H_
