// d88cut: cuts the twenty fixed regions of the first disk of a D88 image into
// files in the current directory, or the folder -o names.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "console.h"
#include "cut_file.h"
#include "cut_plan.h"
#include "open_image.h"
#include "file_system.h"
#include "interrupts.h"
#include "output_file.h"
#include "track_counts.h"
#include "program.h"

namespace {

// "ファイルをオープンできません." in Shift_JIS (code page 932), whatever the
// console's code page: users' scripts and terminals expect these bytes.
constexpr char kOpenFailureMessage[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76"
    "\x83\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n";

// Spares one run opens at most: each holds an open file and its read-ahead.
constexpr std::size_t kMaxSpares = 16;

// The command line: options before "--" only; "-" alone is an operand
// (standard input). The first operand is the image, the second the disk
// number (decimal digits, not read); nothing may follow them, so that
// `d88cut *.d88` does not cut the first image and pass over the others.
d88::ProgramDefinition programDefinition() {
  d88::ProgramDefinition definition;
  definition.name = "d88cut";
  definition.version = D88_VERSION;
  definition.options = {
      d88::outputFolderOption(),
      d88::valueOption('\0', "spare", "SPARE", "an image",
                       "another dump of the same disk: a sector the image does not\n"
                       "hold sound is taken from it (may be given up to 16 times)")
          .repeatable(kMaxSpares, "spares"),
  };
  definition.usageForms = {"IMAGE [DISK]"};
  definition.description =
      "Cuts twenty fixed regions of disk 0 of a D88 floppy-disk image into the files\n"
      "PROG, VD000, VD001, MA000-MA008 and MB000-MB007, in the current directory or DIR.\n"
      "DISK (decimal digits) is accepted and not read: disk 0 is always cut. One\n"
      "image at a time. An image named - is standard input.\n";
  definition.endOfOptionsHelp = "end of options: the next argument is the image, whatever its name";
  definition.epilogue =
      "Exit status: 0 when all twenty files were written whole from sound sectors;\n"
      "2 when all twenty were written but some are incomplete or hold sectors marked\n"
      "bad; 1 otherwise (nothing cut, a file not written, a read that failed).\n"
      "See d88cut(1).\n";
  definition.shortUsage = {"[d88file] (DiskNo.)"};
  // A closed standard output must not stop the cut half-way: the files are
  // all cut, then the failed progress lines are reported. A file past the
  // file-size limit is an error of its own, and its temporary goes.
  definition.atStart = d88::removeTemporaryOnInterrupt;
  definition.ignoresWriteSignals = true;
  return definition;
}

// True for a disk number: one or more decimal digits.
bool isDiskNumber(const char* disk) {
  return disk[0] != '\0' && disk[std::strspn(disk, "0123456789")] == '\0';
}

// True for a disk number that names disk 0: one or more zero digits.
bool namesDiskZero(const char* disk) {
  return disk[0] != '\0' && disk[std::strspn(disk, "0")] == '\0';
}

// "Error: cannot read IMAGE: REASON", for a read of the image that failed.
void reportReadFailure(const std::string& path, const d88::Status& failure) {
  d88::print(stderr, "Error: %s\n", d88::cannotReadText(path, failure).c_str());
}

}  // namespace

static int cut(const d88::Arguments& args) {
  const std::vector<const char*>& operands = args.operands();
  const char* const folder = args.value("output");
  const std::vector<const char*>& spares = args.values("spare");
  // One image at a time: a second image, or anything else where the disk
  // number stands or after it, is said before anything is read.
  if (operands.size() > 1 && !isDiskNumber(operands[1])) {
    d88::print(stderr, "Error: one image at a time: %s is not a disk number\n",
               d88::safeUtf8(operands[1]).c_str());
    return 1;
  }
  if (operands.size() > 2) {
    d88::print(stderr, "Error: one image at a time: %s is not read\n",
               d88::safeUtf8(operands[2]).c_str());
    return 1;
  }
  std::string imagePath;
  if (!d88::expandToOneImage("d88cut", operands[0], &imagePath)) return 1;
  std::vector<std::string> sparePaths(spares.size());
  for (std::size_t k = 0; k < spares.size(); ++k) {
    if (!d88::expandToOneImage("d88cut", spares[k], &sparePaths[k])) return 1;
  }
  // Standard input can be read once only.
  const auto readsStandardInput = [](const std::string& path) { return path == "-"; };
  if (std::count_if(sparePaths.begin(), sparePaths.end(), readsStandardInput) +
          (readsStandardInput(imagePath) ? 1 : 0) > 1) {
    d88::print(stderr, "d88cut: standard input (-) may be named once only\n");
    return 1;
  }
  const std::string image = d88::safeUtf8(imagePath);
  // The disk number is not read; a user who asked for another disk is told.
  if (operands.size() > 1 && !namesDiskZero(operands[1])) {
    std::fputs("Note: the disk number is not read; disk 0 is cut\n", stderr);
  }
  // The image and every spare take their memory from one budget.
  const d88::OpenOptions inputOptions = d88::runOpenOptions();
  d88::Image theImage;
  const d88::OpenOutcome opened = d88::openImage(imagePath, &theImage, nullptr, inputOptions);
  if (!opened.ok()) {
    // Users' scripts and terminals expect the old words first; the message
    // after them says the same, readable on a UTF-8 terminal, with the
    // system's reason. Nothing is written for a file that holds no disk, so
    // that earlier outputs survive.
    if (opened.problem == d88::OpenProblem::kCannotOpen) std::fputs(kOpenFailureMessage, stderr);
    d88::reportOpenFailure("d88cut", opened);
    return 1;
  }
  // A spare that cannot be opened or read stops the run before anything is
  // written: the user counted on it. Each is checked as it is opened. A
  // spare that holds no disk, or is no D88 image, or would take more memory
  // than the run's inputs may hold together, is only not used; the last is
  // closed at once, so that the memory it took serves the others.
  std::vector<d88::Image> spareImages(sparePaths.size());
  // Why each spare that opened is not used, said where the spares are weighed.
  std::vector<std::string> unusable(sparePaths.size());
  std::vector<d88::FileIdentity> spareFiles(sparePaths.size());
  std::vector<std::string> spareNames(sparePaths.size());
  for (std::size_t k = 0; k < sparePaths.size(); ++k) {
    const d88::OpenOutcome spare =
        d88::openImage(sparePaths[k], &spareImages[k], nullptr, inputOptions);
    spareFiles[k] = spare.identity;
    spareNames[k] = d88::safeUtf8(sparePaths[k]);
    if (!d88::spareIsUsable(spare, &unusable[k])) {
      if (unusable[k].empty()) {
        d88::reportOpenFailure("d88cut", spare);
        return 1;
      }
      if (spare.status.code() == d88::Status::Code::kTooLarge) spareImages[k].close();
    }
  }
  // No file is written over an input, used or not, nor over anything that
  // is not a file: the whole run stops before anything is written.
  d88::CutTarget target{folder};
  if (!d88::checkCutOutputs(target, opened.identity, spareFiles, spareNames)) return 1;
  // Nothing is written for a disk that holds none of the sectors the cuts
  // read, so that earlier outputs survive.
  if (!theImage.selectDisk(0).ok() || !d88::planFindsAnySector(theImage)) {
    if (!theImage.readFailure().ok()) {
      reportReadFailure(imagePath, theImage.readFailure());
    } else {
      d88::print(stderr,
                 "Error: %s holds none of the sectors d88cut reads on disk 0; nothing is written\n",
                 image.c_str());
      // A lead: what the disk does hold, in the listing's words.
      d88::print(stderr, "Note: disk 0 holds %s; d88ls %s lists it\n",
                 d88::trackCountsText(d88::countTracks(theImage)).c_str(), image.c_str());
    }
    return 1;
  }
  // A spare is used only when it is a dump of the same disk: sound sectors
  // that both hold, and none of them different.
  for (std::size_t k = 0; k < spareImages.size(); ++k) {
    d88::Image& spare = spareImages[k];
    const std::string& name = spareNames[k];
    if (!unusable[k].empty()) {
      d88::print(stderr, "Note: %s is not used: %s\n", name.c_str(), unusable[k].c_str());
      continue;
    }
    // An image that opened holds a disk 0.
    (void)spare.selectDisk(0);
    const d88::SpareAgreement agreement = d88::compareWithSpare(theImage, spare);
    // A spare that cannot be read is as good as one that cannot be opened,
    // unless it only passed the memory the inputs may hold together.
    if (spare.readFailure().code() == d88::Status::Code::kTooLarge) {
      d88::print(stderr, "Note: %s is not used: %s\n", name.c_str(),
                 d88::safeUtf8(spare.readFailure().reason()).c_str());
      spare.close();
      continue;
    }
    if (!spare.readFailure().ok()) {
      reportReadFailure(sparePaths[k], spare.readFailure());
      return 1;
    }
    const std::string refusal = d88::spareRefusal(agreement, image);
    if (refusal.empty()) {
      target.spares.push_back({&spare, name});
    } else {
      d88::print(stderr, "Note: %s is not used: %s\n", name.c_str(), refusal.c_str());
    }
  }
  if (folder != nullptr) {
    if (const int error = d88::makeFolder(folder)) {
      d88::reportFolderFailure(target, error, true);
      return 1;
    }
  }
  bool allWritten = true;
  bool allWhole = true;
  std::vector<std::uint8_t> cutBuffer;  // one cut at a time: used again for each
  for (const d88::Cut& cut : d88::cutPlan()) {
    const d88::CutFileResult result = d88::cutFile(theImage, target, cut, &cutBuffer);
    if (result == d88::CutFileResult::kFolderFailed) return 1;
    if (result == d88::CutFileResult::kFailed) allWritten = false;
    if (result != d88::CutFileResult::kWhole) allWhole = false;
  }
  // A failing disk or network share can make reads fail: say so, since every
  // sector it hid was reported as missing.
  if (!theImage.readFailure().ok()) {
    reportReadFailure(imagePath, theImage.readFailure());
    allWritten = false;
  }
  for (std::size_t k = 0; k < spareImages.size(); ++k) {
    if (!spareImages[k].readFailure().ok()) {
      reportReadFailure(sparePaths[k], spareImages[k].readFailure());
      allWritten = false;
    }
  }
  // The files are cut whatever became of the progress lines.
  if (!d88::standardOutputWritten()) return 1;
  if (!allWritten) return 1;
  return allWhole ? 0 : 2;
}

int main(int argc, char** argv) {
  return d88::runProgram(programDefinition(), argc, argv, cut);
}
