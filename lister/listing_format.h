// The listing as text for people and as JSON for scripts.
#ifndef D88CUT_LISTER_LISTING_FORMAT_H_
#define D88CUT_LISTER_LISTING_FORMAT_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "image_listing.h"

namespace d88 {

// A disk name made readable as UTF-8: Shift_JIS (CP932) converted where the
// platform has a converter; a byte that does not convert, a control
// character and a byte above 0x7F without a converter as \xNN; a backslash
// as \\. The result is always valid UTF-8 and safe to print on a terminal.
std::string displayName(const std::string& raw);

// Hex digits of a disk's content fingerprint that its disk line shows.
constexpr std::size_t kContentDigits = 16;

// `utf8` as a quoted JSON string: quote, backslash and control characters escaped.
std::string jsonString(const std::string& utf8);
// A JSON member naming a file: "KEY":NAME when the name is valid UTF-8; else
// NAME made readable with \xNN and its exact bytes in hex as "KEYHex", so
// that a script can open the file again.
std::string jsonPathMember(const std::string& key, const std::string& path);

// One line per disk; the cut plan's coverage under disk 0 when given.
std::string disksText(const std::vector<DiskSummary>& disks, const CutCoverage* coverage);
// The disk's line, then one line per track.
std::string tracksText(const DiskSummary& disk, const std::vector<TrackListing>& tracks);

std::string disksJson(const std::string& imagePath, const std::vector<DiskSummary>& disks,
                      const CutCoverage* coverage);
// The JSON line of an image that could not be listed: its name and why.
std::string errorJson(const std::string& imagePath, const std::string& reason);
std::string tracksJson(const std::string& imagePath, const DiskSummary& disk,
                       const std::vector<TrackListing>& tracks);
// The same document, given to `sink` in pieces of about 64 KiB; false when
// the sink refused one.
bool writeTracksJson(const std::string& imagePath, const DiskSummary& disk,
                     const std::vector<TrackListing>& tracks,
                     const std::function<bool(const std::string&)>& sink);

}  // namespace d88

#endif  // D88CUT_LISTER_LISTING_FORMAT_H_
