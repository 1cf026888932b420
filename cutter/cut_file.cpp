#include "cut_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "console.h"
#include "file_system.h"
#include "output_file.h"
#include "output_set.h"

namespace d88 {
namespace {

// The progress line that comes before each output file. It goes out at once,
// so that a message about the file follows it even when both streams are
// redirected to one file.
void announce(const char* name) {
  print(stdout, "cutting ... %s\n", name);
  flushStandardOutput();
}

// Says on standard error what the user must know of the sectors of a file.
void warnAbout(const char* name, const CutReadout& readout, const std::vector<Spare>& spares) {
  const int total = static_cast<int>(readout.sectors.size());
  if (!readout.unread.empty()) {
    const SectorOutcome& first = readout.sectors[readout.unread.front()];
    print(stderr,
          "Warning: %s is incomplete: %d of %d sectors could not be read, the first at %s; "
          "their bytes are written as zero\n",
          name, static_cast<int>(readout.unread.size()), total,
          sectorAddressText(first.address).c_str());
  }
  if (!readout.markedBad.empty()) {
    const std::size_t index = readout.markedBad.front();
    const SectorOutcome& first = readout.sectors[index];
    // A marked copy is taken from a spare only when no dump holds the sector
    // sound: the message then says which dump the first came from.
    const auto fromSpare = [&](std::size_t i) { return readout.source[i] != kFromImage; };
    if (std::none_of(readout.markedBad.begin(), readout.markedBad.end(), fromSpare)) {
      print(stderr,
            "Warning: %s: %d of %d sectors are marked bad in the image, the first at %s: %s; "
            "their bytes are copied as they are\n",
            name, static_cast<int>(readout.markedBad.size()), total,
            sectorAddressText(first.address).c_str(), statusMeaning(first.record.status).c_str());
    } else {
      const std::string where =
          fromSpare(index) ? spares[static_cast<std::size_t>(readout.source[index])].name
                           : std::string("the image");
      print(stderr,
            "Warning: %s: %d of %d sectors are marked bad in the image or its spares, the "
            "first at %s in %s: %s; their bytes are copied as they are\n",
            name, static_cast<int>(readout.markedBad.size()), total,
            sectorAddressText(first.address).c_str(), where.c_str(),
            statusMeaning(first.record.status).c_str());
    }
  }
  if (!readout.differingTwins.empty()) {
    const SectorOutcome& first = readout.sectors[readout.differingTwins.front()];
    print(stderr,
          "Warning: %s: %d of %d sectors stand twice in their track with different bytes, "
          "the first at %s; %s\n",
          name, static_cast<int>(readout.differingTwins.size()), total,
          sectorAddressText(first.address).c_str(),
          isSoundRecord(first.record) ? "the first sound copy is used"
                                      : "no copy is sound, the first is used");
  }
}

// Says which sectors of a file the spares supplied.
void noteSpares(const char* name, const CutReadout& readout, const std::vector<Spare>& spares) {
  for (std::size_t k = 0; k < spares.size(); ++k) {
    const int taken = readout.takenFrom(static_cast<int>(k));
    if (taken == 0) continue;
    print(stderr, "Note: %s: %d of %d sectors taken from %s\n", name, taken,
          static_cast<int>(readout.sectors.size()), spares[k].name.c_str());
  }
}

}  // namespace

bool checkCutOutputs(const CutTarget& target, const FileIdentity& image,
                     const std::vector<FileIdentity>& spares,
                     const std::vector<std::string>& spareNames) {
  OutputSet outputs;
  outputs.addInput(image, "the image being cut");
  for (std::size_t k = 0; k < spares.size(); ++k) {
    outputs.addInput(spares[k], "the spare " + spareNames[k]);
  }
  for (const Cut& cut : cutPlan()) outputs.addOutput(pathInFolder(target.folder, cut.name));
  const OutputCheck check = outputs.check();
  if (check.ok()) return true;
  print(stderr, "Error: cannot write %s: %s\n", cutPlan()[check.output].name,
        safeUtf8(check.reason).c_str());
  return false;
}

void reportFolderFailure(const CutTarget& target, int error, bool nothingWritten) {
  const std::string folder = target.folder != nullptr ? safeUtf8(target.folder) : ".";
  print(stderr, "Error: cannot write into %s: %s; %s\n", folder.c_str(), std::strerror(error),
        nothingWritten ? "nothing is written" : "the remaining files are not written");
}

CutFileResult cutFile(Image& image, const CutTarget& target, const Cut& cut,
                      std::vector<std::uint8_t>* buffer) {
  buffer->resize(static_cast<std::size_t>(cut.skip + cut.length));
  const CutReadout readout = readCut(image, cut, buffer->data(), target.spares);
  announce(cut.name);
  noteSpares(cut.name, readout, target.spares);
  const std::string path = pathInFolder(target.folder, cut.name);
  const WriteResult written = writeFileWhole(path.c_str(), buffer->data() + cut.skip,
                                             static_cast<std::size_t>(cut.length));
  if (written.folderFailed) {
    reportFolderFailure(target, written.error);
    return CutFileResult::kFolderFailed;
  }
  if (written.error != 0) {
    print(stderr, "Error: cannot write %s: %s\n", cut.name, writeFailureText(written).c_str());
    return CutFileResult::kFailed;
  }
  warnAbout(cut.name, readout, target.spares);
  return readout.sound() ? CutFileResult::kWhole : CutFileResult::kDamaged;
}

}  // namespace d88
