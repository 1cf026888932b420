// The whole cutting path on arbitrary bytes: open, select disk 0 and the
// twenty cuts into a scratch folder. Every output must come out at its full
// length whatever the image holds, unless the disk gives nothing to salvage:
// then no output is written at all. Then the same bytes as a spare of a
// fixed disk that lacks every other sector of the plan: whatever the spare
// holds, the sectors the disk holds sound come out as the disk has them.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "cut_file.h"
#include "cut_plan.h"
#include "d88_builder.h"
#include "fuzz_support.h"

namespace {

constexpr char kHalfDiskName[] = "half.d88";

// A standard disk without every second sector, and with some sectors marked
// bad or short, so that a cut asks the spare for them; opened once, with
// disk 0 selected.
d88::Image& halfDisk() {
  static d88::Image image;
  static bool opened = false;
  if (!opened) {
    d88build::Disk disk = d88build::standardDisk();
    for (auto& [track, records] : disk.tracks) {
      for (std::size_t i = records.size(); i-- > 0;) {
        if (i % 2 == 1) records.erase(records.begin() + static_cast<std::ptrdiff_t>(i));
      }
      // Some of what is left is marked bad or short, so that a cut looks
      // for sound copies in the spare there too.
      if (track % 3 == 0) records.front().status = 0xB0;
      if (track % 3 == 1) records.front().data.resize(100);
    }
    FUZZ_CHECK(d88build::writeFile(kHalfDiskName, d88build::build({disk}).bytes));
    FUZZ_CHECK(d88::Image::open(kHalfDiskName, &image).ok() && image.selectDisk(0).ok());
    opened = true;
  }
  return image;
}

void cutWithSpare(d88::Image& spare) {
  d88::Image& half = halfDisk();
  const d88::SpareAgreement agreement = d88::compareWithSpare(half, spare);
  FUZZ_CHECK(agreement.differing <= agreement.shared);
  static std::vector<std::uint8_t> alone(d88::kLargestCutBytes);
  static std::vector<std::uint8_t> spared(d88::kLargestCutBytes);
  for (const d88::Cut& cut : d88::cutPlan()) {
    const d88::CutReadout own = d88::readCut(half, cut, alone.data());
    const d88::CutReadout readout = d88::readCut(half, cut, spared.data(), {{&spare, ""}});
    FUZZ_CHECK(readout.sectors.size() == own.sectors.size());
    FUZZ_CHECK(readout.bytesRead >= own.bytesRead && readout.bytesRead <= cut.length);
    for (std::size_t i = 0; i < own.sectors.size(); ++i) {
      const d88::SectorOutcome& sector = own.sectors[i];
      if (!sector.found || !d88::isSoundRecord(sector.record)) continue;
      FUZZ_CHECK(readout.source[i] == d88::kFromImage);
      FUZZ_CHECK(std::memcmp(alone.data() + sector.slotOffset,
                             spared.data() + sector.slotOffset,
                             static_cast<std::size_t>(sector.slotBytes)) == 0);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  d88::Image& image = d88fuzz::openInput(data, size).image();
  if (!image.selectDisk(0).ok()) return 0;
  for (const d88::Cut& cut : d88::cutPlan()) std::remove(cut.name);
  // As d88cut does: nothing is written unless the disk holds some sector of the plan.
  const bool nothing = !d88::planFindsAnySector(image);
  if (!nothing) {
    std::vector<std::uint8_t> buffer;
    for (const d88::Cut& cut : d88::cutPlan()) {
      d88::cutFile(image, {nullptr}, cut, &buffer);
    }
  }
  for (const d88::Cut& cut : d88::cutPlan()) {
    struct stat st {};
    if (nothing) {
      FUZZ_CHECK(stat(cut.name, &st) != 0);
    } else {
      FUZZ_CHECK(stat(cut.name, &st) == 0 && st.st_size == cut.length);
    }
  }
  cutWithSpare(image);
  return 0;
}
