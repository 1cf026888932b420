#include "disk_survey.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <string>

#include "cut_plan.h"
#include "text_format.h"

namespace d88 {
namespace {

// The value counted most often (the smallest such value on a tie).
template <typename Value>
Value mostCommon(const std::map<Value, int>& counts) {
  return std::max_element(counts.begin(), counts.end(),
                          [](const auto& a, const auto& b) { return a.second < b.second; })
      ->first;
}

// Bytes a track of the usual layout holds from which a disk counts as high
// density: 2HD disks hold 8 x 1,024, 15 x 512 or 26 x 256 bytes per track,
// double-density ones at most 9 x 512.
constexpr int kHighDensityTrackBytes = 6000;
// Cylinders above which a double-density disk is a 2DD one (80 against 40).
constexpr int kDoubleDensityCylinders = 45;

// The layout the tracks hold, as most of them have it.
TrackLayout layoutOf(const TrackCounts& counts) {
  TrackLayout layout;
  if (counts.tracks == 0) return layout;
  layout.cylinders = counts.layout.cylinderOf(counts.lastTrack) + 1;
  layout.heads = counts.layout.heads;
  layout.sectors = counts.usualRecords;
  layout.sectorBytes = counts.usualSizeCode <= kMaxSizeCode ? 128 << counts.usualSizeCode : 0;
  const long long trackBytes = static_cast<long long>(layout.sectors) * layout.sectorBytes;
  const bool oneSided = layout.heads == 1;
  layout.media = trackBytes >= kHighDensityTrackBytes        ? "2HD"
                 : layout.cylinders > kDoubleDensityCylinders ? (oneSided ? "1DD" : "2DD")
                 : oneSided                                   ? "1D"
                                                              : "2D";
  return layout;
}

std::vector<std::string> diskProblems(const Image& image, const DiskSummary& s) {
  std::vector<std::string> problems;
  const std::int64_t end = static_cast<std::int64_t>(s.offset) + s.size;
  if (image.fileSize() >= 0 && end > image.fileSize()) {
    problems.push_back("size field runs " + std::to_string(end - image.fileSize()) +
                       " bytes past the end of the file");
  }
  if (s.size < static_cast<std::uint32_t>(kDiskHeaderSize)) {
    problems.push_back("size field smaller than a disk header: no disk after this one is read");
  }
  int beyond = 0;
  for (int t = 0; t < kTrackCount; ++t) {
    const std::uint32_t entry = image.disk().tracks[static_cast<std::size_t>(t)];
    if (entry != 0 && !trackEntryInDisk(entry, image.disk().size)) ++beyond;
  }
  if (beyond > 0) {
    problems.push_back(std::to_string(beyond) + " track table " +
                       (beyond == 1 ? "entry points" : "entries point") +
                       " beyond the size field: those tracks are not read");
  }
  // Said whatever the media byte says: a two-sided dump that lost head 1
  // looks like a one-sided disk in every other way.
  if (s.counts.layout.hasRecords && s.counts.layout.heads == 1) {
    problems.push_back("one-sided: no record carries head 1");
  }
  const char* media = mediaName(s.mediaType);
  if (media != nullptr && s.layout.media != nullptr && std::string(media) != s.layout.media) {
    problems.push_back(std::string("media byte says ") + media + ", the tracks hold " +
                       s.layout.media);
  }
  return problems;
}

}  // namespace

// Bytes of two records of one identity that are compared to tell whether
// they differ: the largest sector a real disk holds (size code 7) and no
// more, so that a track of 256 twins of 64 KiB costs little to list.
constexpr std::int32_t kTwinBytesCompared = 16 * 1024;

TrackListing listTrack(Image& image, int track, const DiskLayout& layout) {
  TrackListing listing;
  listing.track = track;
  listing.c = layout.cylinderOf(track);
  listing.h = layout.headOf(track);
  TrackWalk walk = image.walkTrack(track);
  listing.records = std::move(walk.records);
  listing.end = walk.end;
  listing.endOffset = walk.endOffset;
  listing.error = std::move(walk.error);
  if (listing.records.empty()) return listing;

  std::map<int, int> sizeCodeCounts;
  // Identities met so far, and the index of the first record of each.
  std::map<std::array<std::uint8_t, 4>, std::size_t> seen;
  std::set<int> numbers;
  for (std::size_t i = 0; i < listing.records.size(); ++i) {
    const SectorRecord& record = listing.records[i];
    const SectorId& id = record.id;
    const int index = static_cast<int>(i);
    ++sizeCodeCounts[id.n];
    const auto first = seen.insert({{id.c, id.h, id.r, id.n}, i});
    if (!first.second) {
      listing.duplicates.push_back(index);
      bool same = false;
      if (!image.sameData(listing.records[first.first->second], record, kTwinBytesCompared,
                          &same).ok() ||
          !same) {
        listing.differingDuplicates.push_back(index);
      }
    }
    if (id.c != listing.c || id.h != listing.h) listing.mismatched.push_back(index);
    if (isMarkedBad(record.status)) listing.markedBad.push_back(index);
    if (isDeletedData(record)) listing.deleted.push_back(index);
    if (record.density == kDensitySingle) listing.singleDensity.push_back(index);
    if (record.dataAvailable < record.dataSize) listing.cutOff.push_back(index);
    numbers.insert(id.r);
  }
  listing.usualN = mostCommon(sizeCodeCounts);
  // Sector numbers start at 1 on the disks these machines format.
  const int low = std::min(1, *numbers.begin());
  for (int r = low; r < *numbers.rbegin(); ++r) {
    if (numbers.count(r) == 0) listing.missingR.push_back(r);
  }
  return listing;
}

namespace {

// Every track that holds records, each marked with the record count most
// tracks have: a track with fewer is often one cut off by the end of the file.
std::vector<TrackListing> listTracksWith(Image& image, int usual, const DiskLayout& layout) {
  std::vector<TrackListing> tracks;
  std::array<bool, kTrackCount> listed{};
  for (int track = 0; track < kTrackCount; ++track) {
    const int same = sameRecordsAs(image.disk(), track);
    if (same >= 0) {
      // One walk serves every entry of a place: the track is listed as the
      // earlier one's whenever that one is, and its records are not walked,
      // compared or kept again.
      if (!listed[static_cast<std::size_t>(same)]) continue;
      TrackListing shared;
      shared.track = track;
      shared.c = layout.cylinderOf(track);
      shared.h = layout.headOf(track);
      shared.usualRecords = usual;
      shared.sameAs = same;
      tracks.push_back(std::move(shared));
      continue;
    }
    TrackListing listing = listTrack(image, track, layout);
    // A track whose first header could not be read is listed too, to say so.
    if (!listing.records.empty() || listing.end == TrackEnd::kReadError) {
      listing.usualRecords = usual;
      tracks.push_back(std::move(listing));
      listed[static_cast<std::size_t>(track)] = true;
    }
  }
  return tracks;
}

}  // namespace

std::vector<TrackListing> listTracks(Image& image) {
  const TrackCounts counts = countTracks(image);
  return listTracksWith(image, counts.usualRecords, counts.layout);
}

bool summarizeDisk(Image& image, int index, DiskSummary* summary,
                   std::vector<TrackListing>* tracks) {
  if (!image.selectDisk(index).ok()) return false;
  const Disk& disk = image.disk();
  DiskSummary s;
  s.index = index;
  s.offset = disk.offset;
  s.size = disk.size;
  s.mediaType = disk.mediaType;
  s.writeProtected = disk.writeProtect == kWriteProtected;
  s.name = disk.name;
  // The counts walk every track; a listing of them reads what the walks keep.
  s.counts = countTracks(image);
  s.layout = layoutOf(s.counts);
  s.problems = diskProblems(image, s);
  // The counts just made give the usual record count: no second count.
  if (tracks != nullptr) *tracks = listTracksWith(image, s.counts.usualRecords, s.counts.layout);
  *summary = std::move(s);
  return true;
}

CutCoverage checkCutPlan(Image& image) {
  CutCoverage coverage;
  for (const Cut& cut : cutPlan()) {
    // What a cut would find is all that is asked: nothing is copied.
    const CutReadout readout = readCut(image, cut, nullptr);
    coverage.sectors += static_cast<int>(readout.sectors.size());
    for (const SectorOutcome& sector : readout.sectors) coverage.found += sector.found ? 1 : 0;
    for (std::size_t i : readout.unread) coverage.unread.push_back({cut.name, readout.sectors[i]});
    for (std::size_t i : readout.markedBad) {
      coverage.markedBad.push_back({cut.name, readout.sectors[i]});
    }
  }
  // A sector found is one of the plan's kind; only a disk without any is
  // walked again, whole, to tell one of another layout from a wreck.
  if (!coverage.unread.empty()) {
    coverage.fit = coverage.found == 0 && !diskHoldsPlanKindOfSector(image) ? CutFit::kNone
                                                                            : CutFit::kIncomplete;
  } else if (!coverage.markedBad.empty()) {
    coverage.fit = CutFit::kMarked;
  }
  return coverage;
}

const char* cutFitName(CutFit fit) {
  switch (fit) {
    case CutFit::kNone:
      return "none";
    case CutFit::kWhole:
      return "whole";
    case CutFit::kIncomplete:
      return "incomplete";
    case CutFit::kMarked:
      return "marked";
  }
  return "";
}

std::string trackEndText(const TrackListing& t) {
  switch (t.end) {
    case TrackEnd::kRecordCount:
      return "";
    case TrackEnd::kZeroCount:
      return "record count 0 at record " + std::to_string(t.records.size() - 1);
    case TrackEnd::kDiskEnd:
      return "records run on to the end of the disk";
    case TrackEnd::kHeaderCutOff:
      return "record header at offset " + std::to_string(t.endOffset) +
             " cut off by the end of the disk";
    case TrackEnd::kCap:
      return "cut short after " + std::to_string(kMaxTrackRecords) + " records";
    case TrackEnd::kReadError:
      return "read error at offset " + std::to_string(t.endOffset) + ": " + t.error.reason();
  }
  return "";
}

}  // namespace d88
