// The walk of one track's records: a function over the byte source with
// explicit limits, that returns the records and why it ended. Private to
// the reader.
#ifndef D88CUT_IMAGE_TRACK_WALK_H_
#define D88CUT_IMAGE_TRACK_WALK_H_

#include <cstddef>
#include <cstdint>

#include <d88/format.h>

namespace d88 {

class ByteSource;

struct WalkLimits {
  // Records read at most: the walk ends with TrackEnd::kCap there.
  std::size_t maxRecords = kMaxTrackRecords;
  // Whether a header whose record count is 0 ends the walk (with that
  // record). When it does not, the walk goes on to a later header's count.
  bool stopAtZeroCount = true;
  // Bytes the track most likely spans (up to where the next track starts),
  // read with its first header when they are not at hand; 0 when unknown.
  std::size_t expectedBytes = 0;
};

// Walks the records that start at file offset `start`, never reading a
// header or data at or past `diskEnd`, into `walk` (records appended; end,
// endOffset and error set). A walk reads at most limits.maxRecords headers,
// whatever the counts and sizes in them claim.
void walkRecords(ByteSource& source, std::int64_t start, std::int64_t diskEnd,
                 const WalkLimits& limits, TrackWalk* walk);

}  // namespace d88

#endif  // D88CUT_IMAGE_TRACK_WALK_H_
