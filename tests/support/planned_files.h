// What the cutting command must write, stated independently of its code: the
// published plan, and the bytes each file holds when cut from standardDisk().
#ifndef D88CUT_TESTS_SUPPORT_PLANNED_FILES_H_
#define D88CUT_TESTS_SUPPORT_PLANNED_FILES_H_

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "d88_builder.h"

namespace d88test {

// File, first track and sector, bytes. Head and cylinder follow from the
// track; every run continues through sectors 1 to 8 onto the next track.
struct PlannedFile {
  const char* name;
  int track;
  int r;
  int length;
};
extern const PlannedFile kPlan[20];

// The content of `file` cut from disk `seed` of standardDisk(), laid out as in
// `image` (disk 0) and cut off after `available` bytes of the image file: the
// sectors that are there, the part of the first missing sector that is there,
// then zeros (the builder lays tracks out in order, so every later sector of
// the run is beyond the end too). *complete tells whether every sector was there.
d88build::Bytes expectedContent(const PlannedFile& file, const d88build::Image& image,
                                std::size_t available = std::numeric_limits<std::size_t>::max(),
                                bool* complete = nullptr, int seed = 0);

// The twenty progress lines, in order.
std::string progressLines();
// The twenty names, sorted.
std::vector<std::string> sortedPlannedNames();

}  // namespace d88test

#endif  // D88CUT_TESTS_SUPPORT_PLANNED_FILES_H_
