// d88make: writes a D88 disk from a raw sector image (.img, .hdm, a dd of a
// disk): its sectors in order, cylinder by cylinder, head by head, and with
// d88raw's map, the sectors that d88raw filled left out again, and the
// marks and lengths it recorded given back.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "image_file.h"
#include "interrupts.h"
#include "make_disk.h"
#include "output_file.h"
#include "output_set.h"
#include "program.h"
#include "raw_image.h"
#include "system_file.h"

namespace {

d88::ProgramDefinition programDefinition() {
  d88::ProgramDefinition definition;
  definition.name = "d88make";
  definition.version = D88_VERSION;
  definition.options = {
      d88::valueOption('\0', "geometry", "CxHxSxB", "a value",
                       "C cylinders of H heads (1 or 2), S sectors of B bytes a track")
          .inForms(0b1, 0b1),
      d88::valueOption('\0', "first", "R", "a value", "the first sector number of a track (default 1)"),
      d88::valueOption('\0', "media", "MEDIA", "a value",
                       "the media byte: 2D, 2DD, 2HD, 1D or 1DD (default: the\n"
                       "geometry's)"),
      d88::flagOption('\0', "fm", "single density (FM) records"),
      d88::valueOption('\0', "name", "NAME", "a value", "the disk's name, at most 16 bytes"),
      d88::flagOption('\0', "protect", "mark the disk write-protected"),
      d88::valueOption('\0', "map", "MAP.json", "a value",
                       "d88raw's map of RAW: the sectors it filled are left out, and\n"
                       "those marked bad or short get their status and length back"),
  };
  definition.usageForms = {"RAW OUT.d88"};
  definition.description =
      "Writes a D88 disk OUT.d88 from the raw sector image RAW: track C, H (slot\n"
      "2 x C + H of the track table) holds sectors R first to first + S - 1 of B bytes,\n"
      "taken from RAW in order, cylinder by cylinder, then head. RAW must hold exactly\n"
      "C x H x S x B bytes. A RAW named - is standard input.\n";
  definition.epilogue =
      "Numbers are decimal or hex after 0x. Exit status: 0 when OUT.d88 was written;\n"
      "1 otherwise (nothing is written). See d88make(1).\n";
  definition.shortUsage = {
      "--geometry CxHxSxB [--first R] [--media MEDIA] [--fm] [--name NAME] [--protect]\n"
      "       [--map MAP.json] RAW OUT.d88"};
  definition.minOperands = 2;
  definition.maxOperands = 2;
  definition.extraOperand =
      "one raw image and one output at a time; %s is one too many (d88make --help lists the options)";
  definition.helpColumn = 22;
  definition.missingValueNamesOption = true;
  definition.atStart = d88::removeTemporaryOnInterrupt;
  definition.ignoresWriteSignals = true;
  return definition;
}

// Reads the open map file whole, at most kMaxMapBytes; false with the reason.
bool readMapText(d88::SystemFile& file, std::string* text, std::string* why) {
  std::vector<std::uint8_t> chunk(64 * 1024);
  for (;;) {
    int error = 0;
    const std::int64_t got =
        file.read(static_cast<std::int64_t>(text->size()), chunk.data(), chunk.size(), &error);
    if (got < 0) {
      *why = std::strerror(error);
      return false;
    }
    if (got == 0) return true;
    if (text->size() + static_cast<std::size_t>(got) > d88::kMaxMapBytes) {
      *why = "it holds more than " + std::to_string(d88::kMaxMapBytes) + " bytes, more than any map";
      return false;
    }
    text->append(reinterpret_cast<const char*>(chunk.data()), static_cast<std::size_t>(got));
  }
}

// `held` is the size of RAW, or for a stream read only a little past what
// the geometry takes (`stream`), a count past it.
std::string sizeMismatch(const std::string& raw, std::uint64_t held, const d88::MakeGeometry& g,
                         bool stream = false) {
  const std::uint64_t wanted = d88::makeRawBytes(g);
  const std::string holds =
      stream && held > wanted ? "more than " + std::to_string(wanted) : std::to_string(held);
  return raw + " holds " + holds + " bytes; the geometry " +
         d88::makeGeometryText(g) + " takes " + std::to_string(d88::makeRawBytes(g)) +
         "; nothing is written";
}

}  // namespace

static int make(const d88::Arguments& args) {
  const char* const rawName = args.operands()[0];
  const char* const outName = args.operands()[1];
  const char* const geometryArg = args.value("geometry");
  const char* const firstArg = args.value("first");
  const char* const mediaArg = args.value("media");
  const char* const nameArg = args.value("name");
  const char* const mapName = args.value("map");
  if (geometryArg == nullptr) {
    d88::print(stderr, "d88make: --geometry CxHxSxB is needed: a raw image does not say its layout\n");
    return 1;
  }
  d88::MakeGeometry geometry;
  std::uint64_t first = 1;
  if (firstArg != nullptr && !d88::parseRawNumber(firstArg, 0xFF, &first)) {
    d88::print(stderr, "d88make: --first %s: not a sector number (0 to 255, decimal or 0x hex)\n",
               d88::safeUtf8(firstArg).c_str());
    return 1;
  }
  geometry.firstR = static_cast<int>(first);
  std::string why;
  if (!d88::parseMakeGeometry(geometryArg, &geometry, &why)) {
    d88::print(stderr, "d88make: --geometry %s: %s\n", d88::safeUtf8(geometryArg).c_str(), why.c_str());
    return 1;
  }
  d88::MakeHeader header;
  header.mediaType = d88::usualMedia(geometry);
  if (mediaArg != nullptr && !d88::parseMediaName(mediaArg, &header.mediaType)) {
    d88::print(stderr, "d88make: --media %s: not 2D, 2DD, 2HD, 1D or 1DD\n",
               d88::safeUtf8(mediaArg).c_str());
    return 1;
  }
  if (nameArg != nullptr) {
    header.name = nameArg;
    if (header.name.size() > static_cast<std::size_t>(d88::kNameLength)) {
      d88::print(stderr, "d88make: --name %s: %llu bytes; a D88 name holds at most %d\n",
                 d88::safeUtf8(nameArg).c_str(),
                 static_cast<unsigned long long>(header.name.size()), d88::kNameLength);
      return 1;
    }
  }
  header.writeProtect = args.has("protect") ? d88::kWriteProtected : 0x00;
  header.singleDensity = args.has("fm");

  // A disk goes to a file, through a temporary beside it: never to
  // standard output, which "-" would otherwise be taken for.
  if (std::strcmp(outName, "-") == 0) {
    d88::print(stderr, "d88make: OUT cannot be - (standard output); name a file\n");
    return 1;
  }
  if (mapName != nullptr && std::strcmp(mapName, "-") == 0 && std::strcmp(rawName, "-") == 0) {
    d88::print(stderr, "d88make: standard input (-) may be named once only\n");
    return 1;
  }
  std::string rawPath;
  if (!d88::expandToOneImage("d88make", rawName, &rawPath)) return 1;
  const std::string raw = d88::safeUtf8(rawPath);
  const std::string out = d88::safeUtf8(outName);

  d88::SystemFile rawFile;
  if (const int error = rawFile.open(rawPath.c_str())) {
    d88::print(stderr, "d88make: cannot open %s: %s\n", raw.c_str(), std::strerror(error));
    return 1;
  }
  d88::SystemFile mapFile;
  if (mapName != nullptr) {
    if (const int error = mapFile.open(mapName)) {
      d88::print(stderr, "d88make: cannot open %s: %s\n", d88::safeUtf8(mapName).c_str(),
                 std::strerror(error));
      return 1;
    }
  }
  // OUT may be neither input, nor anything but a file, and must be able to
  // stand where it is named: all said before anything is read.
  d88::OutputSet outputs(true);
  outputs.addInput(rawFile.identity(), "the raw image being read");
  if (mapName != nullptr) outputs.addInput(mapFile.identity(), "the map being read");
  outputs.addOutput(outName);
  const d88::OutputCheck check = outputs.check();
  if (!check.ok()) {
    d88::print(stderr, "Error: cannot write %s: %s\n", out.c_str(), d88::safeUtf8(check.reason).c_str());
    return 1;
  }
  if (rawFile.seekable() && static_cast<std::uint64_t>(rawFile.size()) != d88::makeRawBytes(geometry)) {
    d88::print(stderr, "Error: %s\n",
               sizeMismatch(raw, static_cast<std::uint64_t>(rawFile.size()), geometry).c_str());
    return 1;
  }
  d88::RawMapFixes fixes;
  if (mapName != nullptr) {
    const std::string map = d88::safeUtf8(mapName);
    std::string text;
    if (!readMapText(mapFile, &text, &why)) {
      d88::print(stderr, "Error: cannot read %s: %s\n", map.c_str(), why.c_str());
      return 1;
    }
    if (!d88::readRawMap(text, geometry, &fixes, &why)) {
      d88::print(stderr, "Error: %s is not a map of %s as %s: %s\n", map.c_str(), raw.c_str(),
                 d88::makeGeometryText(geometry).c_str(), d88::safeUtf8(why).c_str());
      return 1;
    }
  }
  if (header.mediaType != d88::usualMedia(geometry)) {
    d88::print(stderr, "Note: %s: media %s written as asked; %s is the geometry of a %s disk\n",
               out.c_str(), d88::mediaWord(header.mediaType).c_str(),
               d88::makeGeometryText(geometry).c_str(),
               d88::mediaWord(d88::usualMedia(geometry)).c_str());
  }

  std::vector<std::vector<std::uint64_t>> rawOffsets;
  const d88::DiskPlan layout =
      d88::makeLayout(geometry, header, mapName != nullptr ? &fixes : nullptr, &rawOffsets);
  const d88::Status checked = d88::checkDiskPlan(layout, nullptr);
  if (!checked.ok()) {
    d88::print(stderr, "Error: %s cannot be written: %s\n", out.c_str(), checked.message().c_str());
    return 1;
  }
  d88::print(stdout, "writing ... %s: %s, sectors %d to %d (N %d), media %s\n", out.c_str(),
             d88::makeGeometryText(geometry).c_str(), geometry.firstR,
             geometry.firstR + geometry.sectors - 1, geometry.sizeCode,
             d88::mediaWord(header.mediaType).c_str());
  d88::flushStandardOutput();

  d88::PendingImageFile file;
  d88::WriteResult written = file.start(outName);
  if (written.error != 0) {
    d88::print(stderr, "Error: cannot write %s: %s\n", out.c_str(), d88::writeFailureText(written).c_str());
    return 1;
  }
  d88::RawImageSource source(rawFile, rawOffsets);
  const d88::Status wrote = d88::writeDisk(layout, source, file);
  // A raw image that ends early stops the writing with kCorruption; one
  // that goes on past its last sector is found by reading on. Either way
  // its size is counted to its end, so that the message gives it.
  std::uint64_t total = 0;
  const d88::Status ended = wrote.ok() || wrote.code() == d88::Status::Code::kCorruption
                                ? source.readToEnd(d88::makeRawBytes(geometry), &total)
                                : d88::Status();
  if (file.failure().error != 0) {
    file.discard();
    d88::print(stderr, "Error: cannot write %s: %s\n", out.c_str(),
               d88::writeFailureText(file.failure()).c_str());
    return 1;
  }
  const d88::Status failure = !wrote.ok() && wrote.code() != d88::Status::Code::kCorruption ? wrote : ended;
  if (!failure.ok()) {
    file.discard();
    d88::print(stderr, "Error: cannot read %s: %s; nothing is written\n", raw.c_str(),
               failure.reason().c_str());
    return 1;
  }
  if (total != d88::makeRawBytes(geometry)) {
    file.discard();
    d88::print(stderr, "Error: %s\n", sizeMismatch(raw, total, geometry, true).c_str());
    return 1;
  }
  written = file.commit();
  if (written.error != 0) {
    d88::print(stderr, "Error: cannot write %s: %s\n", out.c_str(), d88::writeFailureText(written).c_str());
    return 1;
  }
  if (mapName != nullptr && (fixes.leftOut + fixes.markedBad + fixes.shortened) > 0) {
    d88::print(stderr,
               "Note: %s: as %s says of the image it was made from: sectors %d left out, %d "
               "marked bad, %d short\n",
               out.c_str(), d88::safeUtf8(mapName).c_str(), fixes.leftOut, fixes.markedBad,
               fixes.shortened);
  }
  if (!d88::standardOutputWritten()) return 1;
  return 0;
}

int main(int argc, char** argv) {
  return d88::runProgram(programDefinition(), argc, argv, make);
}
