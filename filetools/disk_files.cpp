#include "disk_files.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "console.h"

namespace d88 {
namespace {

// A disk number: decimal, or hex after 0x, 0 to kMaxDisks - 1.
bool parseDiskNumber(const char* text, int* disk) {
  const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* digits = hex ? text + 2 : text;
  if (*digits == '\0') return false;
  unsigned long value = 0;
  for (const char* p = digits; *p != '\0'; ++p) {
    int d = -1;
    if (*p >= '0' && *p <= '9') d = *p - '0';
    if (hex && *p >= 'a' && *p <= 'f') d = *p - 'a' + 10;
    if (hex && *p >= 'A' && *p <= 'F') d = *p - 'A' + 10;
    if (d < 0) return false;
    value = value * (hex ? 16u : 10u) + static_cast<unsigned long>(d);
    if (value >= static_cast<unsigned long>(kMaxDisks)) return false;
  }
  *disk = static_cast<int>(value);
  return true;
}

}  // namespace

OptionEntry diskOption() {
  return valueOption('\0', "disk", "N", "a value", "the disk N of the image (default 0)");
}

OptionEntry fileSystemOption() {
  return valueOption('\0', "fs", "NAME", "a value",
                     "read the disk as NAME: fat12, n88, fbasic or hubasic\n"
                     "(default: the one found)");
}

bool openDiskFiles(const char* program, const Arguments& args, const char* imageArgument,
                   bool withDeleted, DiskFiles* out) {
  const char* diskArg = args.value("disk");
  if (diskArg != nullptr && !parseDiskNumber(diskArg, &out->disk)) {
    print(stderr, "%s: --disk %s: not a disk number (0 to %d, decimal or 0x hex)\n", program,
          safeUtf8(diskArg).c_str(), kMaxDisks - 1);
    return false;
  }
  FileSystemKind only = FileSystemKind::kFat12;
  const char* fsArg = args.value("fs");
  if (fsArg != nullptr && !parseFileSystemName(fsArg, &only)) {
    print(stderr, "%s: --fs %s: no such file system (fat12, n88, fbasic or hubasic)\n", program,
          safeUtf8(fsArg).c_str());
    return false;
  }
  if (!expandToOneImage(program, imageArgument, &out->imagePath)) return false;
  out->opened = openImage(out->imagePath, &out->image, nullptr, runOpenOptions());
  if (!out->opened.ok()) {
    reportOpenFailure(program, out->opened);
    out->failure = out->opened.problem == OpenProblem::kNotD88 ? "not a D88 image: " + out->opened.reason
                                                               : out->opened.reason;
    return false;
  }
  const std::string image = safeUtf8(out->imagePath);
  if (!out->image.selectDisk(out->disk).ok()) {
    const int disks = static_cast<int>(out->image.disks().size());
    print(stderr, "Error: %s holds %d disk%s; there is no disk %d\n", image.c_str(), disks,
          disks == 1 ? "" : "s", out->disk);
    out->failure = "it holds " + std::to_string(disks) + (disks == 1 ? " disk" : " disks") +
                   "; there is no disk " + std::to_string(out->disk);
    return false;
  }
  std::vector<std::string> refusals;
  const Status found =
      FileSystem::open(out->image, fsArg != nullptr ? &only : nullptr, withDeleted, &out->files, &refusals);
  if (found.code() == Status::Code::kNotFound) {
    print(stderr, "Error: disk %d of %s: no file system found; each expected:\n", out->disk,
          image.c_str());
    out->failure = "disk " + std::to_string(out->disk) + ": no file system found; each expected:";
    for (const std::string& r : refusals) {
      print(stderr, "  %s\n", safeUtf8(r).c_str());
      out->failure += " " + safeUtf8(r) + ";";
    }
    out->failure.pop_back();
    return false;
  }
  if (!found.ok()) {
    print(stderr, "Error: %s\n", cannotReadText(out->imagePath, found).c_str());
    out->failure = found.reason();
    return false;
  }
  return true;
}

}  // namespace d88
