// The merge of arbitrary bytes with themselves, into memory: whatever the
// image holds, the dump agrees with itself, and a merge that is written
// reads back as the records it planned, in order, with the sizes and
// statuses it planned.
#include <vector>

#include <d88/writer.h>

#include "fuzz_support.h"
#include "merge_disks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  d88::Image& image = d88fuzz::openInput(data, size).image();
  if (image.disks().empty()) return 0;
  d88::Image again;
  if (!d88::Image::openMemory(data, size, &again).ok() || again.disks().empty()) return 0;
  std::vector<d88::MergeDump> dumps{{&image, "A"}, {&again, "B"}};
  d88::DiskMerge plan;
  if (!d88::planDiskMerge(dumps, 0, &plan).ok()) return 0;
  std::vector<std::uint8_t> bytes;
  d88::VectorSink sink(&bytes);
  std::vector<d88::SpareAgreement> agreements;
  if (!d88::writeDiskMerge(dumps, plan, sink, &agreements).ok()) return 0;
  // A dump agrees with itself on every sound sector.
  FUZZ_CHECK(agreements.size() == 2 && agreements[1].differing == 0);
  d88::Image merged;
  FUZZ_CHECK(d88::Image::openMemory(bytes.data(), bytes.size(), &merged).ok());
  FUZZ_CHECK(merged.selectDisk(0).ok());
  for (int t = 0; t < d88::kTrackCount; ++t) {
    const auto& want = plan.plan.tracks[static_cast<std::size_t>(t)];
    const d88::TrackWalk walk = merged.walkTrack(t);
    FUZZ_CHECK(walk.records.size() == want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
      FUZZ_CHECK(d88::sameIdentity(walk.records[i].id, want[i].id));
      FUZZ_CHECK(walk.records[i].dataSize == want[i].dataSize);
      FUZZ_CHECK(walk.records[i].status == want[i].status);
    }
  }
  return 0;
}
