// What d88ls shows, on arbitrary bytes taken as an image file: disk summaries,
// track listings, the cut plan's coverage, and the text, JSON and SVG picture
// made of them. All must be valid UTF-8 with no control character but the
// newlines, whatever names and identities the image holds.
#include <string>

#include "disk_picture.h"
#include "disk_survey.h"
#include "fuzz_support.h"
#include "listing_json.h"
#include "listing_text.h"
#include "picture_svg.h"
#include "text_format.h"

namespace {

// Valid UTF-8, and no control character other than a newline.
bool printableUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if ((b < 0x20 && b != '\n') || b == 0x7F) return false;
      ++i;
      continue;
    }
    const std::size_t length = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || (length == 2 && b < 0xC2) || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first bytes as a disk name, as if the header held them.
  const std::string raw(reinterpret_cast<const char*>(data), size < 17 ? size : 17);
  FUZZ_CHECK(printableUtf8(d88::displayName(raw)));

  d88::Image& image = d88fuzz::openInput(data, size).image();
  if (image.disks().empty()) return 0;
  const std::string path = d88fuzz::kInputName;
  std::vector<d88::DiskSummary> disks(1);
  std::vector<d88::TrackListing> tracks;
  FUZZ_CHECK(d88::summarizeDisk(image, 0, &disks[0], &tracks));
  FUZZ_CHECK(disks[0].counts.tracks >= 0 && disks[0].counts.tracks <= d88::kTrackCount);
  for (const d88::TrackListing& t : tracks) {
    FUZZ_CHECK(t.records.size() <= static_cast<std::size_t>(d88::kMaxTrackRecords));
    FUZZ_CHECK(!t.records.empty() || t.end == d88::TrackEnd::kReadError || t.sameAs >= 0);
    FUZZ_CHECK(t.sameAs < 0 || (t.sameAs < t.track && t.records.empty()));
  }
  const d88::CutCoverage coverage = d88::checkCutPlan(image);
  FUZZ_CHECK(coverage.unread.size() <= static_cast<std::size_t>(coverage.sectors));
  FUZZ_CHECK(coverage.markedBad.size() <= static_cast<std::size_t>(coverage.sectors));
  FUZZ_CHECK(coverage.found >= 0 && coverage.found <= coverage.sectors);
  // A sector found is one of the plan's kind: a disk without any finds none.
  FUZZ_CHECK(coverage.fit != d88::CutFit::kNone || coverage.found == 0);
  const d88::DirectoryTail& tail = image.directoryTail();
  FUZZ_CHECK(tail.trailingBytes >= 0 && tail.trailingBytes < d88::kDiskHeaderSize);
  FUZZ_CHECK(!tail.disksNotRead ||
             image.disks().size() == static_cast<std::size_t>(d88::kMaxDisks));
  FUZZ_CHECK(printableUtf8(d88::disksText(disks, &coverage, tail)));
  FUZZ_CHECK(printableUtf8(d88::tracksText(disks[0], tracks)));
  FUZZ_CHECK(printableUtf8(d88::disksJson(path, disks, &coverage, tail)));
  FUZZ_CHECK(printableUtf8(d88::tracksJson(path, disks[0], tracks)));
  d88::DiskPicture picture;
  FUZZ_CHECK(d88::gatherDiskPicture(image, 0, path, &picture));
  const std::string svg = d88::diskPictureSvg(picture);
  // 164 rows of 256 cells and their titles stay far below this.
  FUZZ_CHECK(printableUtf8(svg) && svg.size() < (64u << 20));
  return 0;
}
