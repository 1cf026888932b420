// The listing as text for people: a line per disk, the cut plan's coverage
// under disk 0, a line per track.
#ifndef D88CUT_LISTER_LISTING_TEXT_H_
#define D88CUT_LISTER_LISTING_TEXT_H_

#include <cstddef>
#include <string>
#include <vector>

#include "disk_survey.h"

namespace d88 {

// Hex digits of a disk's content fingerprint that its disk line shows.
constexpr std::size_t kContentDigits = 16;

// One line per disk; the cut plan's coverage under disk 0 when given; then a
// line for each thing `tail` says stands after the disks.
std::string disksText(const std::vector<DiskSummary>& disks, const CutCoverage* coverage,
                      const DirectoryTail& tail = DirectoryTail());
// The disk's line, then one line per track.
std::string tracksText(const DiskSummary& disk, const std::vector<TrackListing>& tracks);

}  // namespace d88

#endif  // D88CUT_LISTER_LISTING_TEXT_H_
