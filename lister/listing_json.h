// The listing as JSON for scripts: one document per image.
#ifndef D88CUT_LISTER_LISTING_JSON_H_
#define D88CUT_LISTER_LISTING_JSON_H_

#include <string>
#include <vector>

#include "disk_survey.h"
#include "text_format.h"

namespace d88 {

// The image's disks, what stands after them (trailingBytes, disksNotRead),
// and the cut plan's coverage of disk 0 when given.
std::string disksJson(const std::string& imagePath, const std::vector<DiskSummary>& disks,
                      const CutCoverage* coverage, const DirectoryTail& tail = DirectoryTail());
// The JSON line of an image that could not be listed: its name and why.
std::string errorJson(const std::string& imagePath, const std::string& reason);
// The disk and its tracks, with every record.
std::string tracksJson(const std::string& imagePath, const DiskSummary& disk,
                       const std::vector<TrackListing>& tracks);
// The same document, given to `sink` in pieces of about 64 KiB; false when
// the sink refused one.
bool writeTracksJson(const std::string& imagePath, const DiskSummary& disk,
                     const std::vector<TrackListing>& tracks, const ListingSink& sink);

}  // namespace d88

#endif  // D88CUT_LISTER_LISTING_JSON_H_
