// Cutting one region of the plan into its file, as d88cut does.
#ifndef D88CUT_CUTTER_CUT_FILE_H_
#define D88CUT_CUTTER_CUT_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

#include <d88/image.h>

#include "cut_plan.h"
#include "file_system.h"

namespace d88 {

// Where the cuts of one image go, and the spares they may take sectors from.
struct CutTarget {
  const char* folder;  // the folder the files go into; nullptr for the current one
  std::vector<Spare> spares = {};  // in the order they are tried
};

enum class CutFileResult {
  kWhole,         // written, from sectors that were all there and none marked bad
  kDamaged,       // written, with sectors missing, short or marked bad (named in a warning)
  kFailed,        // not written (named in an error); an earlier file of that name stays
  kFolderFailed,  // not written because the folder takes no files (named in an error):
                  // the remaining cuts are not to be tried
};

// Cuts `cut` from the selected disk of `image`, taking each sector from its
// best copy there or in target.spares (see readCut), into its file in
// target.folder, through a temporary file and a rename. The caller has
// checked the file against the run's inputs (checkCutOutputs). Prints the progress
// line on standard output; on standard error a note of the sectors a spare
// supplied, a warning when sectors could not be read (their bytes are
// written as zero), are marked bad, or stand twice in their track with
// different bytes, or an error when the file could not be written: "cannot
// write NAME" for the file alone, "cannot write into FOLDER" when the folder
// or its filesystem refuses it. `buffer` is the caller's, used again for
// every cut: it grows to the cut's bytes (at most kLargestCutBytes).
CutFileResult cutFile(Image& image, const CutTarget& target, const Cut& cut,
                      std::vector<std::uint8_t>* buffer);

// Checks the files of the whole plan in target.folder against the image
// (`image`, the identity of its open handle) and the spares (`spares`, and
// how messages name them) before any is written. Returns false after
// "Error: cannot write NAME: REASON" ("it is the image being cut", "it is
// the spare SPARE", "it is a folder", ...) on standard error.
bool checkCutOutputs(const CutTarget& target, const FileIdentity& image,
                     const std::vector<FileIdentity>& spares,
                     const std::vector<std::string>& spareNames);

// "Error: cannot write into FOLDER: REASON; the remaining files are not
// written", for target.folder ("." for the current one); "...; nothing is
// written" when `nothingWritten`.
void reportFolderFailure(const CutTarget& target, int error, bool nothingWritten = false);

}  // namespace d88

#endif  // D88CUT_CUTTER_CUT_FILE_H_
