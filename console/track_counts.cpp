#include "track_counts.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace d88 {

TrackCounts countTracks(Image& image) {
  TrackCounts counts;
  std::array<int, kMaxTrackRecords + 1> tracksWithRecords{};
  std::array<std::uint32_t, 256> recordsWithSizeCode{};
  const Disk& disk = image.disk();
  for (int t = 0; t < kTrackCount; ++t) {
    if (!trackEntryInDisk(disk.tracks[static_cast<std::size_t>(t)], disk.size)) continue;
    const TrackWalk walk = image.walkTrack(t);
    if (walk.records.empty()) continue;
    const std::size_t records = walk.records.size();
    const int count = static_cast<int>(records);
    counts.minRecords = counts.tracks == 0 ? count : std::min(counts.minRecords, count);
    counts.maxRecords = std::max(counts.maxRecords, count);
    ++counts.tracks;
    ++tracksWithRecords[records];
    counts.lastTrack = t;
    for (const SectorRecord& record : walk.records) ++recordsWithSizeCode[record.id.n];
  }
  // The first index of the largest count: the smallest value on a tie.
  const auto usual = [](const auto& histogram) {
    return static_cast<int>(std::max_element(histogram.begin(), histogram.end()) -
                            histogram.begin());
  };
  // The walks are kept: working out the layout reads nothing again.
  counts.layout = diskLayout(image);
  if (counts.tracks > 0) {
    counts.usualRecords = usual(tracksWithRecords);
    counts.usualSizeCode = usual(recordsWithSizeCode);
  }
  for (std::size_t n = 0; n < recordsWithSizeCode.size(); ++n) {
    if (recordsWithSizeCode[n] != 0) counts.sizeCodes.push_back(static_cast<int>(n));
  }
  return counts;
}

std::string trackCountsText(const TrackCounts& counts) {
  std::string text = std::to_string(counts.tracks) + " track" + (counts.tracks == 1 ? "" : "s");
  if (counts.tracks == 0) return text;
  text += ", " + std::to_string(counts.minRecords);
  if (counts.maxRecords != counts.minRecords) text += "-" + std::to_string(counts.maxRecords);
  text += " sectors/track, N ";
  for (std::size_t i = 0; i < counts.sizeCodes.size(); ++i) {
    if (i != 0) text += ",";
    text += std::to_string(counts.sizeCodes[i]);
  }
  return text;
}

}  // namespace d88
