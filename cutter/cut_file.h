// Cutting one region of the plan into its file, as d88cut does.
#ifndef D88CUT_CUTTER_CUT_FILE_H_
#define D88CUT_CUTTER_CUT_FILE_H_

#include <d88/d88_image.h>

#include "cut_plan.h"

namespace d88 {

enum class CutFileResult {
  kWhole,    // written, from sectors that were all there and none marked bad
  kDamaged,  // written, with sectors missing, short or marked bad (named in a warning)
  kFailed,   // not written (named in an error); an earlier file of that name stays
};

// Cuts `cut` from the selected disk of `image` into the file cut.name in the
// current directory, through a temporary file and a rename. Prints the
// progress line on standard output, and on standard error a warning when
// sectors could not be read (their bytes are written as zero) or are marked
// bad, or an error when the file could not be written. A file whose name is
// the image itself (`imagePath`) is never written.
CutFileResult cutFile(D88Image& image, const char* imagePath, const Cut& cut);

}  // namespace d88

#endif  // D88CUT_CUTTER_CUT_FILE_H_
