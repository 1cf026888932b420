// d88split: writes each disk of a multi-disk D88 file to a file of its own,
// STEM.disk0.d88, STEM.disk1.d88, ..., byte for byte as the file holds them.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "file_system.h"
#include "interrupts.h"
#include "output_file.h"
#include "output_set.h"
#include "open_image.h"
#include "program.h"
#include "split_image.h"

namespace {

// The command line: options before "--" only; "-" alone is an operand. One
// image; an operand past it stops the reading.
d88::ProgramDefinition programDefinition() {
  d88::ProgramDefinition definition;
  definition.name = "d88split";
  definition.version = D88_VERSION;
  definition.options = {
      d88::outputFolderOption(),
  };
  definition.usageForms = {"IMAGE"};
  definition.description =
      "Writes each disk of a D88 floppy-disk image to a file of its own, named after\n"
      "the image: STEM.disk0.d88, STEM.disk1.d88, ... (STEM is the image's name without\n"
      "its last extension; stdin for standard input, named -). Each file holds the\n"
      "disk's bytes as they stand; the files put back together are the image again.\n";
  definition.endOfOptionsHelp = "end of options: the next argument is the image, whatever its name";
  definition.epilogue =
      "Exit status: 0 when every disk was written; 1 otherwise. See d88split(1).\n";
  definition.shortUsage = {"[-o DIR] IMAGE"};
  definition.maxOperands = 1;
  definition.extraOperand = "one image at a time; %s is one too many";
  definition.atStart = d88::removeTemporaryOnInterrupt;
  definition.ignoresWriteSignals = true;
  return definition;
}

}  // namespace

static int split(const d88::Arguments& args) {
  const char* const folder = args.value("output");
  std::string imagePath;
  if (!d88::expandToOneImage("d88split", args.operands()[0], &imagePath)) return 1;
  const std::string image = d88::safeUtf8(imagePath);

  d88::Image theImage;
  const d88::OpenOutcome opened = d88::openImage(imagePath, &theImage, nullptr, d88::runOpenOptions());
  if (!opened.ok()) {
    d88::reportOpenFailure("d88split", opened);
    return 1;
  }
  // Where the disks stand must be known for certain before anything is
  // written: a search that a read stopped could leave disks in the last file.
  if (!theImage.directoryEnd().ok()) {
    d88::print(stderr, "Error: %s; nothing is written\n",
               d88::cannotReadText(imagePath, theImage.directoryEnd()).c_str());
    return 1;
  }
  const std::vector<d88::DiskPart> parts = d88::diskParts(theImage);
  const std::string stem = d88::imageStem(imagePath);
  std::vector<std::string> names;
  std::vector<std::string> paths;
  // No part may be written over the image, over another part, or over
  // anything but a file, nor bear a name the system will not take: the whole
  // run stops before anything is written. A folder that -o makes later
  // cannot be asked about its names yet.
  d88::FileKind folderKind = d88::FileKind::kNothing;
  d88::FileIdentity folderIdentity;
  const bool folderThere = folder == nullptr ||
                           (d88::lookUpFile(folder, &folderKind, &folderIdentity) == 0 &&
                            folderKind == d88::FileKind::kFolder);
  d88::OutputSet outputs(folderThere);
  outputs.addInput(opened.identity, "the image being split");
  for (const d88::DiskPart& part : parts) {
    names.push_back(d88::partFileName(stem, part.disk));
    paths.push_back(d88::pathInFolder(folder, names.back()));
    outputs.addOutput(paths.back());
  }
  const d88::OutputCheck check = outputs.check();
  if (!check.ok()) {
    d88::print(stderr, "Error: cannot write %s: %s; nothing is written\n",
               d88::safeUtf8(names[check.output]).c_str(), d88::safeUtf8(check.reason).c_str());
    return 1;
  }
  if (folder != nullptr) {
    if (const int error = d88::makeFolder(folder)) {
      d88::print(stderr, "Error: cannot write into %s: %s; nothing is written\n",
                 d88::safeUtf8(folder).c_str(), std::strerror(error));
      return 1;
    }
  }
  // The system copies from a second handle only when it reaches the file
  // the reader has open; otherwise every byte comes through the reader.
  const d88::CopySourceFile source(imagePath.c_str(), theImage.fileSize(), opened.identity);
  bool allWritten = true;
  bool stopped = false;
  const auto announce = [&](std::size_t i) {
    d88::print(stdout, "writing ... %s\n", d88::safeUtf8(names[i]).c_str());
    d88::flushStandardOutput();
  };
  const auto done = [&](std::size_t i, const d88::PartResult& result) {
    const std::string shown = d88::safeUtf8(names[i]);
    const d88::DiskPart& part = parts[i];
    if (!result.readFailure.ok()) {
      d88::print(stderr, "Error: cannot read %s: %s; %s is not written\n", image.c_str(),
                 result.readFailure.reason().c_str(), shown.c_str());
      stopped = true;
      return false;
    }
    if (result.written.error != 0) {
      if (result.written.folderFailed) {
        const std::string shownFolder = folder != nullptr ? d88::safeUtf8(folder) : ".";
        d88::print(stderr, "Error: cannot write into %s: %s; the remaining files are not written\n",
                   shownFolder.c_str(), std::strerror(result.written.error));
        stopped = true;
        return false;
      }
      d88::print(stderr, "Error: cannot write %s: %s\n", shown.c_str(),
                 d88::writeFailureText(result.written).c_str());
      allWritten = false;
      return true;
    }
    if (static_cast<std::int64_t>(part.sizeField) != result.bytes) {
      d88::print(stderr, "Warning: disk %d: the size field says %lld bytes; %lld bytes are written\n",
                 part.disk, static_cast<long long>(part.sizeField),
                 static_cast<long long>(result.bytes));
    }
    return true;
  };
  d88::SplitBuffer buffer;
  d88::writeParts(theImage, parts, paths, source, &buffer, announce, done);
  if (stopped) return 1;
  if (!d88::standardOutputWritten()) return 1;
  return allWritten ? 0 : 1;
}

int main(int argc, char** argv) {
  return d88::runProgram(programDefinition(), argc, argv, split);
}
