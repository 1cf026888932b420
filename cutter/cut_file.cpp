#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "cutter/cut_plan.h"
#include "cutter/output_file.h"

namespace d88 {
namespace {

// Shared by every cut; a cut clears its slice before reading, so bytes that
// no sector supplies are zero and never left over from an earlier cut.
std::uint8_t transferBuffer[kTransferBufferSize];

// The address of the sector at `index` in the run that starts at `first`.
SectorAddress sectorOfRun(const D88Image& image, SectorAddress first, std::int32_t index) {
  for (std::int32_t i = 0; i < index; ++i) first = image.followingSector(first);
  return first;
}

// The progress line that comes before each output file.
void announce(const char* name) { print(stdout, "cutting ... %s\n", name); }

}  // namespace

bool cutFile(D88Image& image, const char* name, std::int32_t track, std::int32_t c,
             std::int32_t h, std::int32_t r, std::int32_t n, std::int32_t skip,
             std::int32_t length) {
  if (skip < 0 || length < 0 || skip > kTransferBufferSize - length) {
    std::fprintf(stderr, "Error: the cut for %s does not fit the transfer buffer\n", name);
    return false;
  }
  const std::int32_t wanted = skip + length;
  std::memset(transferBuffer, 0, static_cast<std::size_t>(wanted));
  const std::int32_t got = image.readSectors(track, c, h, r, n, transferBuffer, wanted);

  announce(name);
  const int error =
      writeFileWhole(name, transferBuffer + skip, static_cast<std::size_t>(length));
  if (error != 0) {
    std::fprintf(stderr, "Error: cannot write %s: %s\n", name, std::strerror(error));
    return false;
  }
  if (got < wanted) {
    const std::int32_t sectorBytes = (n >= 0 && n <= kMaxSizeCode) ? (128 << n) : wanted;
    const SectorAddress missing = sectorOfRun(image, {track, c, h, r, n}, got / sectorBytes);
    std::fprintf(stderr,
                 "Warning: %s is incomplete: the sector at track %d (C %d, H %d, R %d, N %d) "
                 "could not be read; the bytes not read are written as zero\n",
                 name, static_cast<int>(missing.track), static_cast<int>(missing.c),
                 static_cast<int>(missing.h), static_cast<int>(missing.r),
                 static_cast<int>(missing.n));
    return false;
  }
  return true;
}

bool cutAllFiles(D88Image& image, const char* imagePath) {
  image.setSectorRange(kPlanFirstSector, kPlanLastSector);
  bool allWhole = true;
  for (const Cut& cut : cutPlan()) {
    if (isSameFile(cut.name, imagePath)) {
      announce(cut.name);
      std::fprintf(stderr, "Error: cannot write %s: it is the image being cut\n", cut.name);
      allWhole = false;
      continue;
    }
    if (!cutFile(image, cut.name, cut.track, cut.c, cut.h, cut.r, cut.n, cut.skip, cut.length)) {
      allWhole = false;
    }
  }
  return allWhole;
}

}  // namespace d88
