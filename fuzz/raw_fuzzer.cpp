// The raw conversion of arbitrary bytes, into memory: whatever the image
// holds, the raw image comes out at exactly the geometry's size, every entry
// of a sector points inside it at a sector's start, and the counts agree with
// the entries.
#include <cstring>

#include "fuzz_support.h"
#include "raw_image.h"

namespace {

// Raw images larger than this are converted under a small fixed geometry
// instead, so that one input stays quick.
constexpr std::uint64_t kMaxFuzzRawBytes = 2u * 1024u * 1024u;

class CountingSink : public d88::RawSink {
 public:
  explicit CountingSink(const d88::RawGeometry& g) : g_(g) {}
  bool write(const std::uint8_t* data, std::size_t size) override {
    FUZZ_CHECK(data != nullptr || size == 0);
    bytes += size;
    return true;
  }
  bool entry(const d88::RawEntry& e) override {
    ++entries;
    const auto sector = static_cast<std::int64_t>(d88::sectorBytes(g_.sizeCode));
    if (e.offset >= 0) {
      FUZZ_CHECK(e.offset % sector == 0);
      FUZZ_CHECK(e.offset < static_cast<std::int64_t>(d88::rawImageBytes(g_)));
      FUZZ_CHECK(e.bytes >= 0 && e.bytes <= sector);
      // Tracks are named by their numbers 2 x C + H.
      FUZZ_CHECK(e.track < g_.trackNumber(g_.tracks));
    } else {
      FUZZ_CHECK(e.hasRecord);
    }
    FUZZ_CHECK(!d88::rawEntryJson(e).empty());
    return true;
  }
  std::uint64_t bytes = 0;
  std::uint64_t entries = 0;

 private:
  d88::RawGeometry g_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  d88::Image& image = d88fuzz::openInput(data, size).image();
  if (!image.selectDisk(0).ok()) return 0;
  d88::RawGeometry g = d88::usualGeometry(image);
  std::string why;
  if (!d88::checkGeometry(g, &why) || d88::rawImageBytes(g) > kMaxFuzzRawBytes) {
    d88::RawGeometry small;
    small.tracks = 3;
    small.heads = g.heads;
    small.sectors = 5;
    small.firstR = g.sectors > 0 && g.firstR <= 0xFF - 4 ? g.firstR : 1;
    small.sizeCode = 1;
    g = small;
    FUZZ_CHECK(d88::checkGeometry(g, &why));
  }
  CountingSink sink(g);
  const d88::RawSummary summary = d88::convertToRaw(image, g, 0xE5, sink);
  FUZZ_CHECK(!summary.stopped);
  if (!summary.failure.ok()) return 0;
  FUZZ_CHECK(sink.bytes == d88::rawImageBytes(g));
  FUZZ_CHECK(summary.bytes == sink.bytes);
  FUZZ_CHECK(summary.sectors == static_cast<std::uint64_t>(g.tracks) * static_cast<std::uint64_t>(g.sectors));
  // Each entry is counted under its kind, and a sector may count under more
  // than one; so the counts are at least the entries.
  std::uint64_t counted = 0;
  for (std::uint64_t c : summary.counts) counted += c;
  FUZZ_CHECK(counted >= sink.entries);
  FUZZ_CHECK(summary.whole() == (!summary.headOneLost && summary.counts[0] + summary.counts[1] + summary.counts[2] +
                                     summary.counts[4] + summary.counts[5] + summary.counts[6] +
                                     summary.counts[7] ==
                                 0));
  return 0;
}
