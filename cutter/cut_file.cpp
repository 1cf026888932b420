#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "cutter/cut_plan.h"
#include "cutter/output_file.h"

namespace d88 {
namespace {

// Shared by every cut. All twenty cuts are read before any file is written,
// each into a slice of its own.
std::uint8_t transferBuffer[kTransferBufferSize];

// The progress line that comes before each output file. It goes out at once,
// so that a message about the file follows it even when both streams are
// redirected to one file.
void announce(const char* name) {
  print(stdout, "cutting ... %s\n", name);
  flushStandardOutput();
}

// Writes the cut's slice to its file and says on standard error what the
// user must know about it. True when the file is whole and sound.
bool writeCut(const char* name, const Cut& cut, const CutReadout& readout,
              const std::uint8_t* slice) {
  announce(name);
  const int error = writeFileWhole(name, slice + cut.skip, static_cast<std::size_t>(cut.length));
  if (error != 0) {
    std::fprintf(stderr, "Error: cannot write %s: %s\n", name, std::strerror(error));
    return false;
  }
  const int total = static_cast<int>(readout.sectors.size());
  if (!readout.unread.empty()) {
    const SectorOutcome& first = readout.sectors[readout.unread.front()];
    std::fprintf(stderr,
                 "Warning: %s is incomplete: %d of %d sectors could not be read, the first at %s; "
                 "their bytes are written as zero\n",
                 name, static_cast<int>(readout.unread.size()), total,
                 sectorAddressText(first.address).c_str());
  }
  if (!readout.markedBad.empty()) {
    const SectorOutcome& first = readout.sectors[readout.markedBad.front()];
    std::fprintf(stderr,
                 "Warning: %s: %d of %d sectors are marked bad in the image, the first at %s: %s; "
                 "their bytes are copied as they are\n",
                 name, static_cast<int>(readout.markedBad.size()), total,
                 sectorAddressText(first.address).c_str(),
                 statusMeaning(first.record.status).c_str());
  }
  return readout.sound();
}

bool fitsTheBuffer(const Cut& cut, std::int32_t at) {
  return cut.skip >= 0 && cut.length >= 0 && at >= 0 && cut.skip <= kTransferBufferSize - at &&
         cut.length <= kTransferBufferSize - at - cut.skip;
}

}  // namespace

std::string sectorAddressText(const SectorAddress& a) {
  char text[96];
  std::snprintf(text, sizeof text, "track %d (C %d, H %d, R %d, N %d)", static_cast<int>(a.track),
                static_cast<int>(a.c), static_cast<int>(a.h), static_cast<int>(a.r),
                static_cast<int>(a.n));
  return text;
}

CutReadout readCut(D88Image& image, const Cut& cut, std::uint8_t* buffer) {
  image.setSectorRange(kPlanFirstSector, kPlanLastSector);
  const std::int32_t wanted = cut.skip + cut.length;
  std::memset(buffer, 0, static_cast<std::size_t>(wanted));
  CutReadout readout;
  for (const SectorOutcome& sector :
       image.readRun({cut.track, cut.c, cut.h, cut.r, cut.n}, buffer, wanted)) {
    // Sectors wholly inside the part passed over give the file nothing.
    if (sector.slotOffset + sector.slotBytes <= cut.skip) continue;
    const std::size_t index = readout.sectors.size();
    readout.sectors.push_back(sector);
    readout.bytesRead += sector.bytesRead;
    if (sector.bytesRead < sector.slotBytes) readout.unread.push_back(index);
    if (sector.found && isMarkedBad(sector.record.status)) readout.markedBad.push_back(index);
  }
  return readout;
}

bool cutFile(D88Image& image, const char* name, std::int32_t track, std::int32_t c,
             std::int32_t h, std::int32_t r, std::int32_t n, std::int32_t skip,
             std::int32_t length) {
  const Cut cut{{}, track, c, h, r, n, skip, length};
  if (!fitsTheBuffer(cut, 0)) {
    std::fprintf(stderr, "Error: the cut for %s does not fit the transfer buffer\n", name);
    return false;
  }
  const CutReadout readout = readCut(image, cut, transferBuffer);
  return writeCut(name, cut, readout, transferBuffer);
}

CutResult cutAllFiles(D88Image& image, const char* imagePath) {
  const CutPlan& plan = cutPlan();
  std::array<CutReadout, kCutCount> readouts;
  std::array<std::int32_t, kCutCount> slices{};
  std::int64_t bytesRead = 0;
  std::int32_t at = 0;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    // The plan is fixed and fits many times over; a plan that did not would
    // be a programming error, reported rather than written past the buffer.
    if (!fitsTheBuffer(plan[i], at)) {
      std::fprintf(stderr, "Error: the cut for %s does not fit the transfer buffer\n", plan[i].name);
      return CutResult::kDamaged;
    }
    slices[i] = at;
    readouts[i] = readCut(image, plan[i], transferBuffer + at);
    bytesRead += readouts[i].bytesRead;
    at += plan[i].skip + plan[i].length;
  }
  // Twenty files of zeros would only replace whatever the user had.
  if (bytesRead == 0) return CutResult::kNothingToSalvage;

  bool allSound = true;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const Cut& cut = plan[i];
    if (isSameFile(cut.name, imagePath)) {
      announce(cut.name);
      std::fprintf(stderr, "Error: cannot write %s: it is the image being cut\n", cut.name);
      allSound = false;
      continue;
    }
    if (!writeCut(cut.name, cut, readouts[i], transferBuffer + slices[i])) allSound = false;
  }
  return allSound ? CutResult::kWhole : CutResult::kDamaged;
}

}  // namespace d88
