// d88raw's map as arbitrary text, read for a small raw image and made into a
// disk in memory: the reader takes or refuses any text without fault, and a
// disk made with what it took reads back as the layout it planned.
#include <string>
#include <vector>

#include <d88/image.h>
#include <d88/writer.h>

#include "fuzz_support.h"
#include "make_disk.h"

namespace {

// The raw image's bytes: each sector's index in every byte.
class PatternSource : public d88::RecordSource {
 public:
  explicit PatternSource(const std::vector<std::vector<std::uint64_t>>& offsets) : offsets_(offsets) {}
  d88::Status data(int track, std::size_t index, const d88::RecordLayout& record,
                   std::uint8_t* buffer) override {
    const std::uint64_t at = offsets_[static_cast<std::size_t>(track)][index];
    for (std::uint32_t i = 0; i < record.dataSize; ++i) buffer[i] = static_cast<std::uint8_t>(at >> 8);
    return d88::Status();
  }

 private:
  const std::vector<std::vector<std::uint64_t>>& offsets_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  d88::MakeGeometry geometry{3, 2, 4, 1, 1};
  d88::RawMapFixes fixes;
  std::string why;
  const bool taken = d88::readRawMap(text, geometry, &fixes, &why);
  FUZZ_CHECK(taken || !why.empty());
  std::vector<std::vector<std::uint64_t>> offsets;
  const d88::DiskPlan layout =
      d88::makeLayout(geometry, d88::MakeHeader{"FUZZ", 0, d88::kMedia2D, false},
                      taken ? &fixes : nullptr, &offsets);
  FUZZ_CHECK(d88::checkDiskPlan(layout, nullptr).ok());
  std::vector<std::uint8_t> bytes;
  d88::VectorSink sink(&bytes);
  PatternSource source(offsets);
  FUZZ_CHECK(d88::writeDisk(layout, source, sink).ok());
  d88::Image image;
  FUZZ_CHECK(d88::Image::openMemory(bytes.data(), bytes.size(), &image).ok());
  FUZZ_CHECK(image.selectDisk(0).ok());
  for (std::size_t t = 0; t < layout.tracks.size(); ++t) {
    const d88::TrackWalk walk = image.walkTrack(static_cast<int>(t));
    FUZZ_CHECK(walk.records.size() == layout.tracks[t].size());
    for (std::size_t i = 0; i < walk.records.size(); ++i) {
      FUZZ_CHECK(d88::sameIdentity(walk.records[i].id, layout.tracks[t][i].id));
      FUZZ_CHECK(walk.records[i].dataSize == layout.tracks[t][i].dataSize);
    }
  }
  return 0;
}
