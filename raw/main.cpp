// d88raw: writes one disk of a D88 image as a raw sector image (.img, .hdm):
// every sector of one geometry in order, with filler where the image holds no
// bytes, and on request a map of every byte that is filler or doubtful.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "file_system.h"
#include "interrupts.h"
#include "output_file.h"
#include "raw_file.h"
#include "raw_image.h"
#include "text_format.h"

namespace {

constexpr char kHelpText[] =
    "Writes one disk of a D88 floppy-disk image as a raw sector image OUT: tracks 0\n"
    "to T - 1, each with its sectors R first to R last, of B bytes each. A sector the\n"
    "image lacks, and the missing bytes of a short one, are written as the fill byte;\n"
    "a sector marked bad is copied as it is. By default the geometry is the disk's\n"
    "most common layout. An image named - is standard input.\n"
    "\n"
    "  --disk N          convert disk N (default 0)\n"
    "  --fill BYTE       the filler byte (default 0x00)\n"
    "  --geometry TxSxB  T tracks of S sectors of B bytes, numbered from the disk's\n"
    "                    usual first sector number\n"
    "  --map MAP.json    write a JSON map of every sector filled, short or marked bad,\n"
    "                    and of every record the raw image cannot hold\n"
    "  -h, --help        show this help and exit\n"
    "  -V, --version     show the version and exit\n"
    "  --                end of options\n"
    "\n"
    "Numbers are decimal or hex after 0x. Exit status: 0 when the raw image is whole\n"
    "and sound; 2 when it was written with sectors filled, short or marked bad, or\n"
    "records left out; 1 otherwise (nothing is written). See d88raw(1).\n";

struct Arguments {
  enum class Action { kUsage, kHelp, kVersion, kBadOption, kConvert };
  Action action = Action::kUsage;
  const char* image = nullptr;
  const char* out = nullptr;
  const char* disk = nullptr;
  const char* fill = nullptr;
  const char* geometry = nullptr;
  const char* map = nullptr;
  std::string problem;  // kBadOption: the message
};

// Options that take a value: "--name VALUE" or "--name=VALUE".
struct ValueOption {
  const char* name;
  const char* Arguments::*value;
};
constexpr ValueOption kValueOptions[] = {
    {"--disk", &Arguments::disk},
    {"--fill", &Arguments::fill},
    {"--geometry", &Arguments::geometry},
    {"--map", &Arguments::map},
};

Arguments parseArguments(int argc, char** argv) {
  Arguments args;
  bool optionsEnded = false;
  int operands = 0;
  const auto bad = [&args](const std::string& problem) {
    args.action = Arguments::Action::kBadOption;
    args.problem = problem;
    return args;
  };
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool option = !optionsEnded && arg[0] == '-' && arg[1] != '\0';
    if (!option) {
      if (operands == 0) args.image = arg;
      if (operands == 1) args.out = arg;
      if (operands == 2) return bad("one image and one output at a time; " + d88::safeUtf8(arg) + " is one too many");
      ++operands;
      continue;
    }
    if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
      continue;
    }
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      args.action = Arguments::Action::kHelp;
      return args;
    }
    if (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-V") == 0) {
      args.action = Arguments::Action::kVersion;
      return args;
    }
    bool known = false;
    for (const ValueOption& o : kValueOptions) {
      const d88::OptionMatch match =
          d88::matchValueOption(argc, argv, &i, nullptr, o.name, &(args.*o.value));
      if (match == d88::OptionMatch::kNone) continue;
      if (match == d88::OptionMatch::kMissingValue) {
        return bad(std::string("option ") + o.name + " needs a value");
      }
      known = true;
      break;
    }
    if (!known) return bad("unknown option " + d88::safeUtf8(arg));
  }
  if (operands == 2) args.action = Arguments::Action::kConvert;
  return args;
}

void printUsage(std::FILE* stream, const char* program) {
  d88::print(stream,
             "Usage: %s [--disk N] [--fill BYTE] [--geometry TxSxB] [--map MAP.json] IMAGE OUT\n",
             program);
}

// "1 record has", "3 records have": a count of records and its verb.
std::string records(unsigned long long count, const char* one, const char* many) {
  return std::to_string(count) + (count == 1 ? " record " : " records ") + (count == 1 ? one : many);
}

// The warnings about the sectors and records of OUT, one line per kind.
void warnAbout(const std::string& out, const d88::RawSummary& s, const d88::RawGeometry& g,
               std::uint8_t fill) {
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
  if (count(d88::RawKind::kOtherTrack) > 0) {
    d88::print(stderr,
               "Warning: %s: %s on tracks past %d and %s left out; the first is %s\n",
               o, records(count(d88::RawKind::kOtherTrack), "stands", "stand").c_str(),
               g.tracks - 1, count(d88::RawKind::kOtherTrack) == 1 ? "is" : "are",
               first(d88::RawKind::kOtherTrack).c_str());
  }
}

}  // namespace

static int run(int argc, char** argv) {
  d88::useUtf8Arguments(&argc, &argv);
  d88::removeTemporaryOnInterrupt();
  d88::ignoreWriteSignals();
  const std::string program = d88::safeUtf8(argc > 0 && argv[0] != nullptr ? argv[0] : "d88raw");
  const Arguments args = parseArguments(argc, argv);
  switch (args.action) {
    case Arguments::Action::kUsage:
      printUsage(stderr, program.c_str());
      return 1;
    case Arguments::Action::kHelp:
      printUsage(stdout, program.c_str());
      d88::print(stdout, "%s", kHelpText);
      return d88::standardOutputWritten() ? 0 : 1;
    case Arguments::Action::kVersion:
      d88::print(stdout, "d88raw " D88_VERSION "\n");
      return d88::standardOutputWritten() ? 0 : 1;
    case Arguments::Action::kBadOption:
      d88::print(stderr, "d88raw: %s (d88raw --help lists the options)\n", args.problem.c_str());
      return 1;
    case Arguments::Action::kConvert:
      break;
  }
  std::uint64_t disk = 0;
  if (args.disk != nullptr && !d88::parseRawNumber(args.disk, d88::kMaxDisks - 1, &disk)) {
    d88::print(stderr, "d88raw: --disk %s: not a disk number (0 to %d, decimal or 0x hex)\n",
               d88::safeUtf8(args.disk).c_str(), d88::kMaxDisks - 1);
    return 1;
  }
  std::uint64_t fill = 0;
  if (args.fill != nullptr && !d88::parseRawNumber(args.fill, 0xFF, &fill)) {
    d88::print(stderr, "d88raw: --fill %s: not a byte (0 to 255, decimal or 0x hex)\n",
               d88::safeUtf8(args.fill).c_str());
    return 1;
  }
  d88::RawGeometry asked;
  std::string why;
  if (args.geometry != nullptr && !d88::parseGeometry(args.geometry, &asked, &why)) {
    d88::print(stderr, "d88raw: --geometry %s: %s\n", d88::safeUtf8(args.geometry).c_str(),
               why.c_str());
    return 1;
  }

  std::string imagePath;
  if (!d88::expandToOneImage("d88raw", args.image, &imagePath)) return 1;
  const std::string image = d88::safeUtf8(imagePath);
  const std::string out = d88::safeUtf8(args.out);

  // A raw image goes to a file, through a temporary beside it: never to
  // standard output, which "-" would otherwise be taken for.
  for (const char* name : {args.out, args.map}) {
    if (name != nullptr && std::strcmp(name, "-") == 0) {
      d88::print(stderr, "d88raw: %s cannot be - (standard output); name a file\n",
                 name == args.out ? "OUT" : "MAP.json");
      return 1;
    }
  }
  if (d88::isSameFile(args.out, imagePath.c_str())) {
    d88::print(stderr, "Error: cannot write %s: it is the image being converted\n", out.c_str());
    return 1;
  }
  if (args.map != nullptr) {
    if (d88::isSameFile(args.map, imagePath.c_str())) {
      d88::print(stderr, "Error: cannot write %s: it is the image being converted\n",
                 d88::safeUtf8(args.map).c_str());
      return 1;
    }
    if (std::strcmp(args.map, args.out) == 0 || d88::isSameFile(args.map, args.out)) {
      d88::print(stderr, "Error: the map and the raw image cannot both be %s\n", out.c_str());
      return 1;
    }
  }

  static d88::D88Image theImage;
  if (!theImage.open(imagePath.c_str())) {
    d88::print(stderr, "d88raw: cannot open %s: %s\n", image.c_str(),
               std::strerror(theImage.openError()));
    return 1;
  }
  const auto diskIndex = static_cast<std::int32_t>(disk);
  if (!theImage.selectDisk(diskIndex)) {
    if (!theImage.readFailure().ok()) {
      d88::print(stderr, "Error: cannot read %s: %s\n", image.c_str(),
                 theImage.readFailure().reason().c_str());
    } else if (theImage.diskCount() == 0) {
      d88::print(stderr, "Error: %s holds no D88 disk (no complete 688-byte disk header)\n",
                 image.c_str());
    } else {
      d88::print(stderr, "Error: %s holds %d disk%s; there is no disk %d\n", image.c_str(),
                 static_cast<int>(theImage.diskCount()), theImage.diskCount() == 1 ? "" : "s",
                 static_cast<int>(diskIndex));
    }
    return 1;
  }

  d88::RawGeometry geometry = d88::usualGeometry(theImage);
  if (!theImage.readFailure().ok()) {
    d88::print(stderr, "Error: cannot read %s: %s\n", image.c_str(),
               theImage.readFailure().reason().c_str());
    return 1;
  }
  if (args.geometry != nullptr) {
    const int firstR = geometry.sectors > 0 ? geometry.firstR : 1;
    geometry = asked;
    geometry.firstR = firstR;
  } else if (geometry.tracks == 0 || geometry.sectors == 0) {
    d88::print(stderr,
               "Error: disk %d of %s holds no sectors to lay out; --geometry TxSxB sets a layout\n",
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
      d88::writeRawFiles(theImage, diskIndex, geometry, static_cast<std::uint8_t>(fill), args.out,
                         args.map);
  if (!result.summary.failure.ok()) {
    d88::print(stderr, "Error: cannot read %s: %s; nothing is written\n", image.c_str(),
               result.summary.failure.reason().c_str());
    return 1;
  }
  if (result.written.error != 0) {
    d88::print(stderr, "Error: cannot write %s: %s\n", d88::safeUtf8(result.failedPath).c_str(),
               std::strerror(result.written.error));
    return 1;
  }
  warnAbout(out, result.summary, geometry, static_cast<std::uint8_t>(fill));
  if (!d88::standardOutputWritten()) return 1;
  return result.summary.whole() ? 0 : 2;
}

int main(int argc, char** argv) {
  return d88::runGuarded(run, argc, argv, "Error: out of memory");
}
