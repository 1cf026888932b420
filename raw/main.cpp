// d88raw: writes one disk of a D88 image as a raw sector image (.img, .hdm):
// every sector of one geometry in order, with filler where the image holds no
// bytes, and on request a map of every byte that is filler or doubtful.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "interrupts.h"
#include "output_file.h"
#include "output_set.h"
#include "program.h"
#include "raw_file.h"
#include "open_image.h"
#include "raw_image.h"
#include "text_format.h"

namespace {

// The command line: options before "--" only; "-" alone is an operand. One
// image and one output; an operand past them stops the reading.
d88::ProgramDefinition programDefinition() {
  d88::ProgramDefinition definition;
  definition.name = "d88raw";
  definition.version = D88_VERSION;
  definition.options = {
      d88::valueOption('\0', "disk", "N", "a value", "convert disk N (default 0)"),
      d88::valueOption('\0', "fill", "BYTE", "a value", "the filler byte (default 0x00)"),
      d88::valueOption('\0', "geometry", "TxSxB", "a value",
                       "T tracks of S sectors of B bytes, numbered from the disk's\n"
                       "usual first sector number; CxHxSxB: C cylinders of H heads"),
      d88::valueOption('\0', "map", "MAP.json", "a value",
                       "write a JSON map of every sector filled, short or marked bad,\n"
                       "and of every record the raw image cannot hold"),
  };
  definition.usageForms = {"IMAGE OUT"};
  definition.description =
      "Writes one disk of a D88 floppy-disk image as a raw sector image OUT: tracks 0\n"
      "to T - 1, each with its sectors R first to R last, of B bytes each; a one-sided\n"
      "disk (no record carries head 1) gives one track per cylinder. A sector the\n"
      "image lacks, and the missing bytes of a short one, are written as the fill byte;\n"
      "a sector marked bad is copied as it is. By default the geometry is the disk's\n"
      "most common layout. An image named - is standard input.\n";
  definition.epilogue =
      "Numbers are decimal or hex after 0x. Exit status: 0 when the raw image is whole\n"
      "and sound; 2 when it was written with sectors filled, short or marked bad, or\n"
      "records left out; 1 otherwise (nothing is written). See d88raw(1).\n";
  definition.shortUsage = {
      "[--disk N] [--fill BYTE] [--geometry TxSxB] [--map MAP.json] IMAGE OUT"};
  definition.minOperands = 2;
  definition.maxOperands = 2;
  definition.extraOperand =
      "one image and one output at a time; %s is one too many (d88raw --help lists the options)";
  definition.missingValueNamesOption = true;
  definition.atStart = d88::removeTemporaryOnInterrupt;
  definition.ignoresWriteSignals = true;
  return definition;
}

// "1 record has", "3 records have": a count of records and its verb.
std::string records(unsigned long long count, const char* one, const char* many) {
  return std::to_string(count) + (count == 1 ? " record " : " records ") + (count == 1 ? one : many);
}

// The warnings about the sectors and records of OUT, one line per kind.
void warnAbout(const std::string& out, const d88::RawSummary& s, const d88::RawGeometry& g,
               std::uint8_t fill, std::uint8_t media) {
  const auto count = [&s](d88::RawKind k) {
    return static_cast<unsigned long long>(s.counts[static_cast<std::size_t>(k)]);
  };
  const auto first = [&s](d88::RawKind k) {
    const d88::RawEntry& e = s.first[static_cast<std::size_t>(k)];
    return d88::sectorAddressText(d88::SectorAddress{e.track, e.id.c, e.id.h, e.id.r, e.id.n});
  };
  const auto firstEntry = [&s](d88::RawKind k) -> const d88::RawEntry& {
    return s.first[static_cast<std::size_t>(k)];
  };
  const unsigned long long total = s.sectors;
  const std::string fillText = d88::hexByte(fill);
  const char* o = out.c_str();
  if (count(d88::RawKind::kMissing) > 0) {
    d88::print(stderr,
               "Warning: %s: %llu of %llu sectors are not in the image; the first is %s; "
               "filled with %s\n",
               o, count(d88::RawKind::kMissing), total, first(d88::RawKind::kMissing).c_str(),
               fillText.c_str());
  }
  if (count(d88::RawKind::kShort) > 0) {
    d88::print(stderr,
               "Warning: %s: %llu of %llu sectors are short in the image; the first is %s, "
               "with %d of %d bytes; the rest filled with %s\n",
               o, count(d88::RawKind::kShort), total, first(d88::RawKind::kShort).c_str(),
               static_cast<int>(firstEntry(d88::RawKind::kShort).bytes),
               static_cast<int>(d88::sectorBytes(g.sizeCode)), fillText.c_str());
  }
  if (count(d88::RawKind::kMarkedBad) > 0) {
    d88::print(stderr,
               "Warning: %s: %llu of %llu sectors are marked bad in the image; the first is %s: "
               "%s; copied as they are\n",
               o, count(d88::RawKind::kMarkedBad), total, first(d88::RawKind::kMarkedBad).c_str(),
               d88::statusMeaning(firstEntry(d88::RawKind::kMarkedBad).record.status).c_str());
  }
  if (count(d88::RawKind::kOtherCH) > 0) {
    d88::print(stderr,
               "Warning: %s: %llu of %llu sectors carry a C or H that is not their track's; "
               "the first is %s; used as they are\n",
               o, count(d88::RawKind::kOtherCH), total, first(d88::RawKind::kOtherCH).c_str());
  }
  if (count(d88::RawKind::kTwin) > 0) {
    d88::print(stderr,
               "Warning: %s: %s the R and N of an earlier one in their track and %s left out; "
               "the first is %s\n",
               o, records(count(d88::RawKind::kTwin), "repeats", "repeat").c_str(),
               count(d88::RawKind::kTwin) == 1 ? "is" : "are", first(d88::RawKind::kTwin).c_str());
  }
  if (count(d88::RawKind::kExtra) > 0) {
    d88::print(stderr,
               "Warning: %s: %s an R outside %d to %d and %s left out; the first is %s\n",
               o, records(count(d88::RawKind::kExtra), "has", "have").c_str(), g.firstR, g.firstR + g.sectors - 1,
               count(d88::RawKind::kExtra) == 1 ? "is" : "are", first(d88::RawKind::kExtra).c_str());
  }
  if (count(d88::RawKind::kOtherSize) > 0) {
    d88::print(stderr,
               "Warning: %s: %s not of size N %d (%d bytes) and %s left out; the first is %s\n",
               o, records(count(d88::RawKind::kOtherSize), "is", "are").c_str(), g.sizeCode,
               static_cast<int>(d88::sectorBytes(g.sizeCode)),
               count(d88::RawKind::kOtherSize) == 1 ? "is" : "are",
               first(d88::RawKind::kOtherSize).c_str());
  }
  if (s.headOneLost) {
    // However sound the head it kept, a dump that lost head 1 is not whole.
    d88::print(stderr,
               "Warning: %s: the media byte says %s, but no record carries head 1: head 1 of "
               "every cylinder is not in the image\n",
               o, d88::mediaText(media).c_str());
  }
  if (count(d88::RawKind::kOtherTrack) > 0) {
    d88::print(stderr,
               "Warning: %s: %s on tracks past %d and %s left out; the first is %s\n",
               o, records(count(d88::RawKind::kOtherTrack), "stands", "stand").c_str(),
               g.tracks - 1, count(d88::RawKind::kOtherTrack) == 1 ? "is" : "are",
               first(d88::RawKind::kOtherTrack).c_str());
  }
}

}  // namespace

static int convert(const d88::Arguments& args) {
  const char* const imageName = args.operands()[0];
  const char* const outName = args.operands()[1];
  const char* const diskArg = args.value("disk");
  const char* const fillArg = args.value("fill");
  const char* const geometryArg = args.value("geometry");
  const char* const mapName = args.value("map");
  std::uint64_t disk = 0;
  if (diskArg != nullptr && !d88::parseRawNumber(diskArg, d88::kMaxDisks - 1, &disk)) {
    d88::print(stderr, "d88raw: --disk %s: not a disk number (0 to %d, decimal or 0x hex)\n",
               d88::safeUtf8(diskArg).c_str(), d88::kMaxDisks - 1);
    return 1;
  }
  std::uint64_t fill = 0;
  if (fillArg != nullptr && !d88::parseRawNumber(fillArg, 0xFF, &fill)) {
    d88::print(stderr, "d88raw: --fill %s: not a byte (0 to 255, decimal or 0x hex)\n",
               d88::safeUtf8(fillArg).c_str());
    return 1;
  }
  d88::RawGeometry asked;
  std::string why;
  if (geometryArg != nullptr && !d88::parseGeometry(geometryArg, &asked, &why)) {
    d88::print(stderr, "d88raw: --geometry %s: %s\n", d88::safeUtf8(geometryArg).c_str(),
               why.c_str());
    return 1;
  }

  std::string imagePath;
  if (!d88::expandToOneImage("d88raw", imageName, &imagePath)) return 1;
  const std::string image = d88::safeUtf8(imagePath);
  const std::string out = d88::safeUtf8(outName);

  // A raw image goes to a file, through a temporary beside it: never to
  // standard output, which "-" would otherwise be taken for.
  for (const char* name : {outName, mapName}) {
    if (name != nullptr && std::strcmp(name, "-") == 0) {
      d88::print(stderr, "d88raw: %s cannot be - (standard output); name a file\n",
                 name == outName ? "OUT" : "MAP.json");
      return 1;
    }
  }

  d88::Image theImage;
  const d88::OpenOutcome opened = d88::openImage(imagePath, &theImage, nullptr, d88::runOpenOptions());
  if (!opened.ok()) {
    d88::reportOpenFailure("d88raw", opened);
    return 1;
  }
  // Neither file may be the image, the other file, or anything but a file,
  // and each must be able to stand where it is named: all said before the
  // progress line.
  d88::OutputSet outputs(true);
  outputs.addInput(opened.identity, "the image being converted");
  outputs.addOutput(outName);
  if (mapName != nullptr) outputs.addOutput(mapName);
  const d88::OutputCheck check = outputs.check();
  if (check.problem == d88::OutputProblem::kIsOutput) {
    d88::print(stderr, "Error: the map and the raw image cannot both be %s\n", out.c_str());
    return 1;
  }
  if (!check.ok()) {
    d88::print(stderr, "Error: cannot write %s: %s\n",
               d88::safeUtf8(outputs.path(check.output)).c_str(), d88::safeUtf8(check.reason).c_str());
    return 1;
  }
  const auto diskIndex = static_cast<std::int32_t>(disk);
  if (!theImage.selectDisk(diskIndex).ok()) {
    const int disks = static_cast<int>(theImage.disks().size());
    d88::print(stderr, "Error: %s holds %d disk%s; there is no disk %d\n", image.c_str(), disks,
               disks == 1 ? "" : "s", static_cast<int>(diskIndex));
    return 1;
  }

  d88::RawGeometry geometry = d88::usualGeometry(theImage);
  if (!theImage.readFailure().ok()) {
    d88::print(stderr, "Error: %s\n",
               d88::cannotReadText(imagePath, theImage.readFailure()).c_str());
    return 1;
  }
  if (geometryArg != nullptr) {
    const int firstR = geometry.sectors > 0 ? geometry.firstR : 1;
    geometry = asked;
    geometry.firstR = firstR;
  } else if (geometry.tracks == 0 || geometry.sectors == 0) {
    d88::print(stderr,
               "Error: disk %d of %s holds no sectors to lay out; --geometry TxSxB or CxHxSxB "
               "sets a layout\n",
               static_cast<int>(diskIndex), image.c_str());
    return 1;
  }
  if (!d88::checkGeometry(geometry, &why)) {
    d88::print(stderr, "Error: disk %d of %s: its layout %s cannot be written: %s\n",
               static_cast<int>(diskIndex), image.c_str(), d88::geometryText(geometry).c_str(),
               why.c_str());
    return 1;
  }

  d88::print(stdout, "writing ... %s: %s, sectors %d to %d (N %d), %llu bytes\n", out.c_str(),
             d88::geometryText(geometry).c_str(), geometry.firstR,
             geometry.firstR + geometry.sectors - 1, geometry.sizeCode,
             static_cast<unsigned long long>(d88::rawImageBytes(geometry)));
  d88::flushStandardOutput();
  const d88::RawFileResult result =
      d88::writeRawFiles(theImage, diskIndex, geometry, static_cast<std::uint8_t>(fill), outName,
                         mapName);
  if (!result.summary.failure.ok()) {
    d88::print(stderr, "Error: cannot read %s: %s; nothing is written\n", image.c_str(),
               result.summary.failure.reason().c_str());
    return 1;
  }
  if (result.written.error != 0) {
    d88::print(stderr, "Error: cannot write %s: %s\n", d88::safeUtf8(result.failedPath).c_str(),
               d88::writeFailureText(result.written).c_str());
    return 1;
  }
  warnAbout(out, result.summary, geometry, static_cast<std::uint8_t>(fill),
            theImage.disk().mediaType);
  if (!d88::standardOutputWritten()) return 1;
  return result.summary.whole() ? 0 : 2;
}

int main(int argc, char** argv) {
  return d88::runProgram(programDefinition(), argc, argv, convert);
}
