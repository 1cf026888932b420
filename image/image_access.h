// Calls over an Image that only the reader's own layers make. Private to the reader.
#ifndef D88CUT_IMAGE_IMAGE_ACCESS_H_
#define D88CUT_IMAGE_IMAGE_ACCESS_H_

#include <cstddef>

#include <d88/image.h>

namespace d88 {

class ImageAccess {
 public:
  // Points *walk at the records of `track` of the selected disk as a walk
  // that does not stop at a record count of 0 gives them: the count of a
  // later header, the disk's end or maxRecords (at most kMaxTrackRecords)
  // ends it. That is the walk the image keeps, valid until its next disk
  // selection, or, when the walk went on past a count of 0, *onward.
  static Status walkPastZeroCounts(Image& image, int track, std::size_t maxRecords,
                                   TrackWalk* onward, const TrackWalk** walk);
};

}  // namespace d88

#endif  // D88CUT_IMAGE_IMAGE_ACCESS_H_
