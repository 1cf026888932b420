// d88get: writes files of one disk of a D88 image into a folder, as its file
// system keeps them, salvaging what it can: a sector missing from the image
// is written as zeros and a sector marked bad as it stands, each named in a
// warning.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "console.h"
#include "disk_files.h"
#include "file_system.h"
#include "file_text.h"
#include "interrupts.h"
#include "output_file.h"
#include "output_set.h"
#include "program.h"

namespace {

d88::ProgramDefinition programDefinition() {
  d88::ProgramDefinition definition;
  definition.name = "d88get";
  definition.version = D88_VERSION;
  definition.options = {
      d88::diskOption(),
      d88::fileSystemOption(),
      d88::outputFolderOption(),
      d88::flagOption('\0', "all", "write every file of the disk").inForms(2u, 2u),
  };
  definition.usageForms = {"IMAGE NAME...", "IMAGE"};
  definition.description =
      "Writes the files NAME of one disk of a D88 floppy-disk image, or all of them with\n"
      "--all, into the current folder or DIR, with their folders and dates. A NAME may\n"
      "hold / for a folder, and on FAT is matched without regard to case. A name the\n"
      "host cannot take is changed, and said so. A sector missing from the image is\n"
      "written as zeros, and one marked bad as it stands. An image named - is standard\n"
      "input.\n";
  definition.epilogue =
      "Exit status: 0 when every file was written whole from sound sectors; 2 when all\n"
      "were written but some are incomplete, hold sectors marked bad or have a broken\n"
      "chain, or the directory or table is damaged or entries were left out; 1\n"
      "otherwise (nothing named, a file not written, a read that failed).\n"
      "See d88get(1).\n";
  definition.shortUsage = {"[--disk N] [--fs NAME] [-o DIR] (--all IMAGE | IMAGE NAME...)"};
  definition.minOperands = 1;
  definition.missingValueNamesOption = true;
  definition.atStart = d88::removeTemporaryOnInterrupt;
  definition.ignoresWriteSignals = true;
  return definition;
}

// A file to write: the entry, and where it goes under the output folder.
struct Target {
  const d88::FileEntry* entry;
  std::vector<std::string> parts;  // its folders and name, made safe
  std::string relative;            // the parts joined by '/'
};

// NAME~K.EXT: the name with its count before its extension.
std::string numbered(const std::string& name, int count) {
  const std::size_t dot = name.rfind('.');
  const std::string suffix = "~" + std::to_string(count);
  if (dot == std::string::npos || dot == 0) return name + suffix;
  return name.substr(0, dot) + suffix + name.substr(dot);
}

// Seconds since 1970 of a date kept in local time; false for a date the system cannot place.
bool localSeconds(const d88::FileDate& d, std::int64_t* seconds) {
  if (!d.known) return false;
  std::tm t{};
  t.tm_year = d.year - 1900;
  t.tm_mon = d.month - 1;
  t.tm_mday = d.day;
  t.tm_hour = d.hour;
  t.tm_min = d.minute;
  t.tm_sec = d.second;
  t.tm_isdst = -1;
  const std::time_t when = std::mktime(&t);
  if (when == static_cast<std::time_t>(-1)) return false;
  *seconds = static_cast<std::int64_t>(when);
  return true;
}

// Makes each folder of `parts` but the last under `folder`; 0 or the errno.
int makeFolders(const char* folder, const std::vector<std::string>& parts, std::string* failed) {
  std::string path;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    path = path.empty() ? parts[i] : path + "/" + parts[i];
    const std::string full = d88::pathInFolder(folder, path);
    if (const int error = d88::makeFolder(full.c_str())) {
      *failed = full;
      return error;
    }
  }
  return 0;
}

// The warnings for a file that did not come out whole and sound.
void warnAbout(d88::FileSystemKind kind, const std::string& name, const d88::FileEntry& f) {
  const char* n = name.c_str();
  const unsigned long total = static_cast<unsigned long>(f.sectors.size());
  if (f.health == d88::FileHealth::kBrokenChain) {
    d88::print(stderr, "Warning: %s: broken chain: %s; written only as far as its chain goes\n",
               n, d88::chainProblemText(kind, f).c_str());
  }
  if (const d88::FileSector* s = d88::firstSectorIn(f, {d88::SectorState::kMissing, d88::SectorState::kShort})) {
    d88::print(stderr,
               "Warning: %s is incomplete: %lu of %lu sectors are not in the image, the first at "
               "%s; written as zeros\n",
               n, static_cast<unsigned long>(f.missingSectors), total,
               d88::sectorAddressText(s->address).c_str());
  }
  if (const d88::FileSector* s = d88::firstSectorIn(f, {d88::SectorState::kMarked})) {
    d88::print(stderr,
               "Warning: %s: %lu of %lu sectors are marked bad in the image, the first at %s: %s; "
               "copied as they are\n",
               n, static_cast<unsigned long>(f.markedSectors), total,
               d88::sectorAddressText(s->address).c_str(), d88::statusMeaning(s->status).c_str());
  }
}

}  // namespace

static int get(const d88::Arguments& args) {
  const std::vector<const char*>& operands = args.operands();
  const bool all = args.has("all");
  if (!all && operands.size() < 2) {
    d88::print(stderr, "d88get: name the files to get, or give --all\n");
    args.printUsage(stderr);
    return 1;
  }
  if (all && operands.size() > 1) {
    d88::print(stderr, "d88get: --all gets every file; %s is one too many\n",
               d88::safeUtf8(operands[1]).c_str());
    return 1;
  }
  d88::DiskFiles disk;
  if (!d88::openDiskFiles("d88get", args, operands[0], false, &disk)) return 1;
  const d88::FileSystemKind kind = disk.files.volume().kind;
  const std::vector<d88::FileEntry>& files = disk.files.files();
  // A damaged directory or table may hide files: said before anything else.
  const bool volumeNotes = d88::volumeHasNotes(disk.files.volume());
  if (volumeNotes) {
    const std::string notes = d88::volumeNotesText(disk.files.volume());
    std::size_t from = 0;
    for (std::size_t end = notes.find('\n'); end != std::string::npos; from = end + 1, end = notes.find('\n', from)) {
      d88::print(stderr, "Warning: disk %d of %s: %s\n", disk.disk, d88::safeUtf8(disk.imagePath).c_str(),
                 notes.substr(from, end - from).c_str());
    }
  }

  // The files asked for, each once, in directory order; a NAME that names
  // nothing stops the run before anything is written.
  std::vector<bool> chosen(files.size(), false);
  bool missing = false;
  for (std::size_t k = 1; k < operands.size(); ++k) {
    bool any = false;
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (d88::pathMatches(kind, files[i], operands[k], true) && !files[i].folder) {
        chosen[i] = true;
        any = true;
      }
    }
    if (!any) {
      d88::print(stderr, "Error: %s: no such file on disk %d of %s\n", d88::safeUtf8(operands[k]).c_str(),
                 disk.disk, d88::safeUtf8(disk.imagePath).c_str());
      missing = true;
    }
  }
  if (missing) return 1;
  std::vector<Target> targets;
  std::set<std::string> taken;  // relative paths given, without regard to case
  for (std::size_t i = 0; i < files.size(); ++i) {
    const d88::FileEntry& f = files[i];
    if (f.folder || f.deleted || !(all || chosen[i])) continue;
    Target t{&f, {}, {}};
    const std::string shown = d88::fileNameText(kind, f.path);
    // Only FAT has folders; a '/' in a Disk BASIC name is part of the name.
    const bool folders = kind == d88::FileSystemKind::kFat12;
    std::size_t from = 0;
    for (;;) {
      const std::size_t slash = folders ? f.path.find('/', from) : std::string::npos;
      const std::string part = f.path.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
      bool changed = false;
      t.parts.push_back(d88::safeHostName(d88::fileNameText(kind, part), &changed));
      if (slash == std::string::npos) break;
      from = slash + 1;
    }
    const auto joined = [&t] {
      std::string s;
      for (const std::string& p : t.parts) s += (s.empty() ? "" : "/") + p;
      return s;
    };
    const std::string base = t.parts.back();
    for (int count = 2; taken.count(d88::lowerAscii(joined())) != 0; ++count) {
      t.parts.back() = numbered(base, count);
    }
    t.relative = joined();
    taken.insert(d88::lowerAscii(t.relative));
    if (t.relative != shown) {
      d88::print(stderr, "Note: %s is written as %s\n", shown.c_str(), d88::safeUtf8(t.relative).c_str());
    }
    targets.push_back(std::move(t));
  }
  if (targets.empty()) {
    d88::print(stderr, "Error: disk %d of %s holds no file to get\n", disk.disk,
               d88::safeUtf8(disk.imagePath).c_str());
    return 1;
  }
  const char* const folder = args.value("output");
  // Every output is checked against the image, the others and what stands
  // under its name before any is written.
  d88::OutputSet outputs;
  outputs.addInput(disk.opened.identity, "the image being read");
  for (const Target& t : targets) outputs.addOutput(d88::pathInFolder(folder, t.relative));
  const d88::OutputCheck check = outputs.check();
  if (!check.ok()) {
    d88::print(stderr, "Error: cannot write %s: %s\n", d88::safeUtf8(outputs.path(check.output)).c_str(),
               d88::safeUtf8(check.reason).c_str());
    return 1;
  }
  if (folder != nullptr) {
    if (const int error = d88::makeFolder(folder)) {
      d88::print(stderr, "Error: cannot write into %s: %s; nothing is written\n",
                 d88::safeUtf8(folder).c_str(), std::strerror(error));
      return 1;
    }
  }
  bool allWritten = true;
  bool allWhole = true;
  std::vector<std::uint8_t> bytes;  // one file at a time: used again for each
  for (const Target& t : targets) {
    const std::string name = d88::safeUtf8(t.relative);
    d88::print(stdout, "getting ... %s\n", name.c_str());
    const d88::Status read = disk.files.readFile(*t.entry, &bytes);
    if (!read.ok()) {
      d88::print(stderr, "Error: %s; %s is not written\n",
                 d88::cannotReadText(disk.imagePath, read).c_str(), name.c_str());
      allWritten = false;
      break;
    }
    std::string failedFolder;
    if (const int error = makeFolders(folder, t.parts, &failedFolder)) {
      d88::print(stderr, "Error: cannot make the folder %s: %s; %s is not written\n",
                 d88::safeUtf8(failedFolder).c_str(), std::strerror(error), name.c_str());
      allWritten = false;
      continue;
    }
    const std::string path = d88::pathInFolder(folder, t.relative);
    // The date goes on the temporary, so that the file never stands under
    // its name with the time of the run.
    d88::PendingFile file;
    d88::WriteResult written = file.start(path.c_str());
    if (written.error == 0) written = file.append(bytes.data(), bytes.size());
    std::int64_t seconds = 0;
    if (written.error == 0 && localSeconds(t.entry->date, &seconds)) {
      (void)file.setModificationTime(seconds);
    }
    if (written.error == 0) written = file.commit();
    if (written.error != 0) {
      d88::print(stderr, "Error: cannot write %s: %s\n", d88::safeUtf8(path).c_str(),
                 d88::writeFailureText(written).c_str());
      allWritten = false;
      continue;
    }
    if (t.entry->health != d88::FileHealth::kWhole) {
      allWhole = false;
      warnAbout(kind, name, *t.entry);
    }
  }
  if (!d88::standardOutputWritten()) return 1;
  if (!allWritten) return 1;
  return allWhole && !volumeNotes ? 0 : 2;
}

int main(int argc, char** argv) { return d88::runProgram(programDefinition(), argc, argv, get); }
