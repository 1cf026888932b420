// d88dir: lists the files on one disk of a D88 image, as its file system
// (FAT12, N88-BASIC, F-BASIC or Hu-BASIC) keeps them, each with its health:
// whole, incomplete, marked bad, or a broken chain.
#include <cstdio>
#include <string>
#include <vector>

#include "console.h"
#include "disk_files.h"
#include "file_text.h"
#include "program.h"

namespace {

d88::ProgramDefinition programDefinition() {
  d88::ProgramDefinition definition;
  definition.name = "d88dir";
  definition.version = D88_VERSION;
  definition.options = {
      d88::diskOption(),
      d88::fileSystemOption(),
      d88::flagOption('\0', "json", "JSON Lines: the file system, then one object per file"),
      d88::flagOption('\0', "deleted", "list deleted entries too"),
  };
  definition.usageForms = {"IMAGE [PATH]"};
  definition.description =
      "Lists the files on one disk of a D88 floppy-disk image: MS-DOS FAT12, N88-BASIC,\n"
      "F-BASIC or Hu-BASIC, found on the disk or named by --fs. Each file is shown with\n"
      "its size, type, attributes, date and health: whole, incomplete (sectors missing\n"
      "from the image), marked (sectors marked bad) or broken chain. PATH lists one file\n"
      "or folder. An image named - is standard input.\n";
  definition.epilogue =
      "Exit status: 0 when every file listed is whole; 2 when one is not (deleted\n"
      "entries aside), or the directory or table is damaged, or entries were left out;\n"
      "1 otherwise (no file system found, no such PATH, a read that failed).\n"
      "See d88dir(1).\n";
  definition.shortUsage = {"[--disk N] [--fs NAME] [--json] [--deleted] IMAGE [PATH]"};
  definition.minOperands = 1;
  definition.maxOperands = 2;
  definition.extraOperand = "one image and one PATH at a time; %s is one too many";
  definition.missingValueNamesOption = true;
  return definition;
}

}  // namespace

static int list(const d88::Arguments& args) {
  const std::vector<const char*>& operands = args.operands();
  d88::DiskFiles disk;
  if (!d88::openDiskFiles("d88dir", args, operands[0], args.has("deleted"), &disk)) {
    // JSON Lines stand for the image even when it cannot be listed: one
    // error object, as d88ls --json gives.
    if (args.has("json") && !disk.failure.empty()) {
      d88::writeText(stdout, d88::filesErrorJson(disk.imagePath, disk.failure));
    }
    return 1;
  }
  const d88::Volume& volume = disk.files.volume();
  const d88::FileSystemKind kind = volume.kind;
  std::vector<const d88::FileEntry*> shown;
  for (const d88::FileEntry& f : disk.files.files()) {
    if (operands.size() < 2 || d88::pathMatches(kind, f, operands[1], true)) shown.push_back(&f);
  }
  if (operands.size() > 1 && shown.empty()) {
    d88::print(stderr, "Error: %s: no such file or folder on disk %d of %s\n",
               d88::safeUtf8(operands[1]).c_str(), disk.disk, d88::safeUtf8(disk.imagePath).c_str());
    return 1;
  }
  std::string text;
  if (args.has("json")) {
    text = d88::volumeJson(disk.imagePath, disk.disk, volume);
    for (const d88::FileEntry* f : shown) text += d88::fileJson(kind, *f);
  } else {
    text = d88::volumeText(volume) + d88::volumeNotesText(volume) + d88::filesText(kind, shown);
  }
  d88::writeText(stdout, text);
  if (!disk.image.readFailure().ok()) {
    d88::print(stderr, "Error: %s\n", d88::cannotReadText(disk.imagePath, disk.image.readFailure()).c_str());
    return 1;
  }
  if (!d88::standardOutputWritten()) return 1;
  // A damaged directory or table, or entries left out, may hide files.
  if (d88::volumeHasNotes(volume)) return 2;
  // Deleted entries are shown for what they held, and never count.
  for (const d88::FileEntry* f : shown) {
    if (!f->deleted && f->health != d88::FileHealth::kWhole) return 2;
  }
  return 0;
}

int main(int argc, char** argv) { return d88::runProgram(programDefinition(), argc, argv, list); }
