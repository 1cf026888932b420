// The whole cutting path on arbitrary bytes: open, select disk 0 and the
// twenty cuts into a scratch folder. Every output must come out at its full
// length whatever the image holds, unless the disk gives nothing to salvage:
// then no output is written at all.
#include <sys/stat.h>

#include <cstdio>

#include "cut_file.h"
#include "cut_plan.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  d88::D88Image& image = d88fuzz::openInput(data, size);
  if (!image.selectDisk(0)) return 0;
  for (const d88::Cut& cut : d88::cutPlan()) std::remove(cut.name);
  // As d88cut does: nothing is written unless the disk holds some sector of the plan.
  const bool nothing = !d88::planFindsAnySector(image);
  if (!nothing) {
    for (const d88::Cut& cut : d88::cutPlan()) d88::cutFile(image, {d88fuzz::kInputName, nullptr}, cut);
  }
  for (const d88::Cut& cut : d88::cutPlan()) {
    struct stat st {};
    if (nothing) {
      FUZZ_CHECK(stat(cut.name, &st) != 0);
    } else {
      FUZZ_CHECK(stat(cut.name, &st) == 0 && st.st_size == cut.length);
    }
  }
  return 0;
}
