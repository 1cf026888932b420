// d88merge: writes the best image from several dumps of one disk: every
// sector any dump holds, each from its first sound copy, a dump of another
// disk refused as d88cut refuses a spare, and what is still missing or
// marked bad said per disk and, on request, mapped.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "cut_plan.h"
#include "file_system.h"
#include "image_file.h"
#include "interrupts.h"
#include "merge_disks.h"
#include "open_image.h"
#include "output_file.h"
#include "output_set.h"
#include "program.h"
#include "raw_image.h"
#include "split_image.h"
#include "text_format.h"

namespace {

// Dumps one run merges at most: each holds an open file and its read-ahead.
constexpr std::size_t kMaxDumps = 16;
// Bytes of map text gathered before each write to its file.
constexpr std::size_t kMapWriteBytes = 64 * 1024;

d88::ProgramDefinition programDefinition() {
  d88::ProgramDefinition definition;
  definition.name = "d88merge";
  definition.version = D88_VERSION;
  definition.options = {
      d88::valueOption('o', "output", "OUT", "a file",
                       "the merged image (default: STEM.merged.d88 beside the\n"
                       "first dump)"),
      d88::valueOption('\0', "disk", "N", "a value", "merge disk N alone"),
      d88::flagOption('\0', "json", "the reports as JSON Lines on standard output"),
      d88::valueOption('\0', "map", "MAP.json", "a value",
                       "write a JSON map of every sector not whole and sound in OUT,\n"
                       "and of every sector whose marks the dumps disagree on"),
  };
  definition.usageForms = {"DUMP DUMP..."};
  definition.description =
      "Writes the best D88 image OUT from several dumps of one disk: disk k of each\n"
      "dump with disk k of the others; each track holds every sector any dump holds\n"
      "there, in the first dump's order, each taken from its first sound copy in dump\n"
      "order, else its first copy. Header fields come from the first dump. A dump\n"
      "whose sound sectors differ from the first dump's, or that shares none, is not\n"
      "used. A dump named - is standard input.\n";
  definition.epilogue =
      "Exit status: 0 when every sector comes out whole and sound; 2 when OUT was\n"
      "written with sectors still missing bytes or marked bad; 1 otherwise (nothing\n"
      "is written). See d88merge(1).\n";
  definition.shortUsage = {"[-o OUT] [--disk N] [--json] [--map MAP.json] DUMP DUMP..."};
  definition.minOperands = 2;
  definition.maxOperands = kMaxDumps;
  definition.extraOperand = "at most 16 dumps at a time; %s is one too many";
  definition.missingValueNamesOption = true;
  definition.atStart = d88::removeTemporaryOnInterrupt;
  definition.ignoresWriteSignals = true;
  return definition;
}

// The map, written as it is made, beside OUT and committed with it.
class MapFile {
 public:
  bool start(const char* path) {
    text_.clear();
    if (path == nullptr) return true;
    path_ = path;
    return check(file_.start(path));
  }
  bool active() const { return path_ != nullptr; }
  bool add(const std::string& text) {
    if (!active()) return true;
    text_ += text;
    return text_.size() < kMapWriteBytes || flush();
  }
  // False once any append has failed: a map with a gap is never committed.
  bool flush() {
    if (failure_.error != 0) return false;
    const bool ok =
        check(file_.append(reinterpret_cast<const std::uint8_t*>(text_.data()), text_.size()));
    text_.clear();
    return ok;
  }
  d88::PendingFile& file() { return file_; }
  const d88::WriteResult& failure() const { return failure_; }

 private:
  bool check(const d88::WriteResult& result) {
    if (result.error != 0) failure_ = result;
    return result.error == 0;
  }
  const char* path_ = nullptr;
  d88::PendingFile file_;
  std::string text_;
  d88::WriteResult failure_;
};

std::string addressJson(int track, const d88::SectorId& id) {
  return "\"track\":" + std::to_string(track) + ",\"c\":" + std::to_string(id.c) +
         ",\"h\":" + std::to_string(id.h) + ",\"r\":" + std::to_string(id.r) +
         ",\"n\":" + std::to_string(id.n);
}

std::string statusWordsJson(int track, const d88::SectorRecord& record) {
  d88::RawEntry entry;
  entry.track = track;
  entry.id = record.id;
  entry.hasRecord = true;
  entry.record = record;
  return d88::joined(d88::rawStatusWords(entry), ",", d88::jsonString);
}

// The map's text for one disk: a sector not whole and sound in d88raw's
// words, with the bytes it holds and the dump it was taken from; a sector
// whose marks the dumps disagree on, with each copy's status. Dumps are
// named by their paths as given (`dumpPaths`, in dump order), with the
// bytes in hex beside a path that is not UTF-8, as every listing names files.
std::string diskMapJson(const d88::DiskMerge& merge, const std::vector<std::string>& dumpPaths) {
  std::string out = "{\"disk\":" + std::to_string(merge.disk) + ",\"entries\":[";
  for (std::size_t i = 0; i < merge.flaws.size(); ++i) {
    const d88::MergeFlaw& flaw = merge.flaws[i];
    d88::RawEntry entry;
    entry.track = flaw.track;
    std::string json;
    if (flaw.absent) {
      // In no dump: d88raw's "missing", with the identity sought.
      entry.kind = d88::RawKind::kMissing;
      entry.id = flaw.id;
      json = d88::rawEntryJson(entry);
    } else {
      entry.kind = flaw.isShort ? d88::RawKind::kShort : d88::RawKind::kMarkedBad;
      entry.id = flaw.copy.record.id;
      entry.hasRecord = true;
      entry.record = flaw.copy.record;
      json = d88::rawEntryJson(entry);
      json.pop_back();  // the closing brace: the merge's own members follow
      json += ",\"bytes\":" + std::to_string(std::max(flaw.copy.record.dataAvailable, 0)) +
              "," + d88::jsonPathMember("from", dumpPaths[static_cast<std::size_t>(flaw.copy.dump)]) + "}";
    }
    out += (i == 0 ? "\n" : ",\n") + json;
  }
  out += "],\"disagreements\":[";
  for (std::size_t i = 0; i < merge.disagreements.size(); ++i) {
    const d88::MarkDisagreement& d = merge.disagreements[i];
    out += (i == 0 ? "\n{" : ",\n{") + addressJson(d.track, d.id) + "," +
           d88::jsonPathMember("from", dumpPaths[static_cast<std::size_t>(d.copies[d.taken].dump)]) +
           ",\"copies\":[";
    for (std::size_t c = 0; c < d.copies.size(); ++c) {
      out += std::string(c == 0 ? "" : ",") + "{" +
             d88::jsonPathMember("dump", dumpPaths[static_cast<std::size_t>(d.copies[c].dump)]) +
             ",\"status\":[" + statusWordsJson(d.track, d.copies[c].record) + "]}";
    }
    out += "]}";
  }
  return out + "]}";
}

// The first later dump with which disk `disk` of the dumps before it can no
// longer be planned, and why (*why); 0 when the first dump alone cannot be,
// or every prefix can. Runs only after a plan failed, so its reads cost
// nothing on a merge that goes through.
std::size_t firstDumpThatCannotJoin(std::vector<d88::MergeDump>& dumps, int disk,
                                    d88::Status* why) {
  for (std::size_t d = 1; d <= dumps.size(); ++d) {
    std::vector<d88::MergeDump> prefix(dumps.begin(), dumps.begin() + static_cast<std::ptrdiff_t>(d));
    d88::DiskMerge plan;
    const d88::Status planned = d88::planDiskMerge(prefix, disk, &plan);
    if (planned.code() == d88::Status::Code::kCorruption) {
      *why = planned;
      return d - 1;
    }
  }
  return 0;
}

// "disk K: S sectors, T taken from DUMP, M still missing, B still marked bad".
std::string reportLine(const d88::DiskMerge& merge, const std::vector<d88::MergeDump>& dumps) {
  std::string line = "disk " + std::to_string(merge.disk) + ": " + std::to_string(merge.sectors) +
                     " sectors";
  for (std::size_t d = 1; d < dumps.size(); ++d) {
    line += ", " + std::to_string(merge.takenFrom[d]) + " taken from " + dumps[d].name;
  }
  return line + ", " + std::to_string(merge.missing) + " still missing, " +
         std::to_string(merge.markedBad) + " still marked bad";
}

std::string reportJson(const d88::DiskMerge& merge, const std::vector<std::string>& dumpPaths) {
  std::string json = "{\"disk\":" + std::to_string(merge.disk) +
                     ",\"sectors\":" + std::to_string(merge.sectors) + ",\"taken\":[";
  for (std::size_t d = 1; d < dumpPaths.size(); ++d) {
    json += std::string(d == 1 ? "" : ",") + "{" + d88::jsonPathMember("dump", dumpPaths[d]) +
            ",\"sectors\":" + std::to_string(merge.takenFrom[d]) + "}";
  }
  return json + "],\"missing\":" + std::to_string(merge.missing) +
         ",\"markedBad\":" + std::to_string(merge.markedBad) + "}";
}

}  // namespace

static int merge(const d88::Arguments& args) {
  const std::vector<const char*>& operands = args.operands();
  const char* const outArg = args.value("output");
  const char* const diskArg = args.value("disk");
  const char* const mapName = args.value("map");
  const bool json = args.has("json");
  std::uint64_t onlyDisk = 0;
  if (diskArg != nullptr && !d88::parseRawNumber(diskArg, d88::kMaxDisks - 1, &onlyDisk)) {
    d88::print(stderr, "d88merge: --disk %s: not a disk number (0 to %d, decimal or 0x hex)\n",
               d88::safeUtf8(diskArg).c_str(), d88::kMaxDisks - 1);
    return 1;
  }
  std::vector<std::string> paths(operands.size());
  for (std::size_t k = 0; k < operands.size(); ++k) {
    if (!d88::expandToOneImage("d88merge", operands[k], &paths[k])) return 1;
  }
  int fromStandardInput = 0;
  for (const std::string& path : paths) fromStandardInput += path == "-" ? 1 : 0;
  if (fromStandardInput > 1) {
    d88::print(stderr, "d88merge: standard input (-) may be named once only\n");
    return 1;
  }
  for (const char* name : {outArg, mapName}) {
    if (name != nullptr && std::strcmp(name, "-") == 0) {
      d88::print(stderr, "d88merge: %s cannot be - (standard output); name a file\n",
                 name == outArg ? "OUT" : "MAP.json");
      return 1;
    }
  }
  if (outArg == nullptr && paths[0] == "-") {
    d88::print(stderr, "d88merge: the first dump is standard input: name the merged image with -o OUT\n");
    return 1;
  }
  const std::string outPath = outArg != nullptr
                                  ? std::string(outArg)
                                  : paths[0].substr(0, d88::nameOffset(paths[0])) +
                                        d88::imageStem(paths[0]) + ".merged.d88";
  const std::string out = d88::safeUtf8(outPath);

  // Every dump takes its memory from one budget. The first is the one the
  // others are weighed against: it must open. Another that cannot be opened
  // or read stops the run; one that is no D88 image is only not used.
  const d88::OpenOptions inputOptions = d88::runOpenOptions();
  std::vector<d88::Image> images(paths.size());
  std::vector<std::string> names(paths.size());
  std::vector<std::string> unusable(paths.size());
  d88::OutputSet outputs(true);
  for (std::size_t k = 0; k < paths.size(); ++k) {
    names[k] = d88::safeUtf8(paths[k]);
    const d88::OpenOutcome opened = d88::openImage(paths[k], &images[k], nullptr, inputOptions);
    outputs.addInput(opened.identity, "the dump " + names[k]);
    if (k == 0 && !opened.ok()) {
      d88::reportOpenFailure("d88merge", opened);
      return 1;
    }
    if (!d88::spareIsUsable(opened, &unusable[k])) {
      if (unusable[k].empty()) {
        d88::reportOpenFailure("d88merge", opened);
        return 1;
      }
      images[k].close();
    }
  }
  outputs.addOutput(outPath);
  if (mapName != nullptr) outputs.addOutput(mapName);
  const d88::OutputCheck check = outputs.check();
  if (check.problem == d88::OutputProblem::kIsOutput) {
    d88::print(stderr, "Error: the map and the merged image cannot both be %s\n", out.c_str());
    return 1;
  }
  if (!check.ok()) {
    d88::print(stderr, "Error: cannot write %s: %s; nothing is written\n",
               d88::safeUtf8(outputs.path(check.output)).c_str(), d88::safeUtf8(check.reason).c_str());
    return 1;
  }

  // The disks merged: --disk's, or every disk any dump holds.
  std::vector<int> disks;
  if (diskArg != nullptr) {
    disks.push_back(static_cast<int>(onlyDisk));
  } else {
    std::size_t most = 0;
    for (const d88::Image& image : images) most = std::max(most, image.disks().size());
    for (std::size_t k = 0; k < most; ++k) disks.push_back(static_cast<int>(k));
  }
  std::vector<std::size_t> used;  // the dumps merged, by their index in `images`
  for (std::size_t k = 0; k < images.size(); ++k) {
    if (unusable[k].empty()) used.push_back(k);
  }
  bool anyHolds = false;
  for (const std::size_t k : used) {
    for (const int disk : disks) anyHolds = anyHolds || static_cast<std::size_t>(disk) < images[k].disks().size();
  }
  if (!anyHolds) {
    d88::print(stderr, "Error: no dump holds disk %d; nothing is written\n",
               disks.empty() ? 0 : disks.front());
    return 1;
  }
  if (!json) {
    d88::print(stdout, "writing ... %s\n", out.c_str());
    d88::flushStandardOutput();
  }

  d88::PendingImageFile file;
  MapFile map;
  const auto writeFailed = [&](const d88::WriteResult& result, const std::string& path) {
    file.discard();
    map.file().discard();
    d88::print(stderr, "Error: cannot write %s: %s\n", d88::safeUtf8(path).c_str(),
               d88::writeFailureText(result).c_str());
    return 1;
  };
  // The image is written from every dump that opened, weighing each later
  // one against the first as it goes: a dump of another disk, by d88cut's
  // rule for a spare over every sector both hold sound, is left out and the
  // image written again from the others. The reads of the first dump serve
  // both, so that a merge of dumps of one disk reads each once.
  std::vector<std::string> reports;
  bool whole = true;
  for (;;) {
    std::vector<d88::MergeDump> dumps;
    std::vector<std::string> dumpPaths;
    for (const std::size_t k : used) {
      dumps.push_back({&images[k], names[k]});
      dumpPaths.push_back(paths[k]);
    }
    std::vector<d88::SpareAgreement> agreements(dumps.size());
    reports.clear();
    whole = true;
    const d88::WriteResult started = file.start(outPath.c_str());
    if (started.error != 0) return writeFailed(started, outPath);
    if (!map.start(mapName)) return writeFailed(map.failure(), mapName);
    map.add("{\"disks\":[");
    bool firstDisk = true;
    d88::Status failure;
    int failedDisk = -1;
    for (const int k : disks) {
      d88::DiskMerge plan;
      failure = d88::planDiskMerge(dumps, k, &plan);
      if (failure.code() == d88::Status::Code::kNotFound) {  // no dump holds it
        failure = d88::Status();
        continue;
      }
      if (failure.ok()) failure = d88::writeDiskMerge(dumps, plan, file, &agreements);
      if (file.failure().error != 0) return writeFailed(file.failure(), outPath);
      if (!failure.ok()) {
        failedDisk = k;
        break;
      }
      if (!map.add(std::string(firstDisk ? "\n" : ",\n") + diskMapJson(plan, dumpPaths))) {
        return writeFailed(map.failure(), mapName);
      }
      firstDisk = false;
      whole = whole && plan.whole();
      reports.push_back(json ? reportJson(plan, dumpPaths) : reportLine(plan, dumps));
    }
    // A read that failed: a later dump that only passed the memory the
    // inputs may hold together is not used; any other stops the run.
    std::vector<std::size_t> refused;
    for (std::size_t d = 0; d < dumps.size(); ++d) {
      const std::size_t k = used[d];
      const d88::Status& read = images[k].readFailure();
      if (read.ok()) continue;
      if (d > 0 && read.code() == d88::Status::Code::kTooLarge) {
        unusable[k] = d88::safeUtf8(read.reason());
        refused.push_back(d);
        continue;
      }
      file.discard();
      map.file().discard();
      d88::print(stderr, "Error: %s; nothing is written\n", d88::cannotReadText(paths[k], read).c_str());
      return 1;
    }
    // A plan that the first dump alone allows, and a later dump makes
    // impossible (a track no slot of one image holds, more records in a
    // track than a track can hold): that dump is left out, as one of
    // another disk is, and the image written from the others.
    if (refused.empty() && !failure.ok() && failure.code() == d88::Status::Code::kCorruption &&
        failedDisk >= 0) {
      d88::Status why;
      if (const std::size_t d = firstDumpThatCannotJoin(dumps, failedDisk, &why); d != 0) {
        unusable[used[d]] = d88::safeUtf8(why.message());
        refused.push_back(d);
      }
    }
    if (refused.empty() && !failure.ok()) {
      file.discard();
      map.file().discard();
      d88::print(stderr, "Error: the dumps cannot be merged: %s; nothing is written\n",
                 d88::safeUtf8(failure.message()).c_str());
      return 1;
    }
    // Agreements are weighed only over an image that was written whole.
    for (std::size_t d = 1; failure.ok() && d < dumps.size(); ++d) {
      const std::string refusal = d88::spareRefusal(agreements[d], names[0]);
      if (refusal.empty() || !unusable[used[d]].empty()) continue;
      unusable[used[d]] = refusal;
      refused.push_back(d);
    }
    if (refused.empty()) break;
    file.discard();
    map.file().discard();
    std::vector<std::size_t> kept;
    for (std::size_t d = 0; d < used.size(); ++d) {
      if (unusable[used[d]].empty()) kept.push_back(used[d]);
    }
    used = kept;
  }
  for (std::size_t k = 0; k < images.size(); ++k) {
    if (unusable[k].empty()) continue;
    if (json) {
      d88::print(stdout, "{%s,\"used\":false,\"reason\":%s}\n", d88::jsonPathMember("dump", paths[k]).c_str(),
                 d88::jsonString(unusable[k]).c_str());
    } else {
      d88::print(stderr, "Note: %s is not used: %s\n", names[k].c_str(), unusable[k].c_str());
    }
  }
  if (map.active()) {
    map.add("\n],\"dumps\":[");
    for (std::size_t k = 0; k < names.size(); ++k) {
      map.add(std::string(k == 0 ? "" : ",") + "{" + d88::jsonPathMember("dump", paths[k]) +
              ",\"used\":" + (unusable[k].empty() ? "true" : "false") + "}");
    }
    map.add("],\"whole\":" + std::string(whole ? "true" : "false") + "}\n");
    if (!map.flush()) return writeFailed(map.failure(), mapName);
  }
  // The image and its map are put in place together, or neither.
  const d88::WriteResult flushed = file.finish();
  if (flushed.error != 0) return writeFailed(flushed, outPath);
  d88::PendingFile* const files[] = {&file.pending(), &map.file()};
  std::size_t failed = 0;
  const d88::WriteResult committed =
      d88::PendingFile::commitTogether(files, map.active() ? 2 : 1, &failed);
  if (committed.error != 0) {
    return writeFailed(committed, failed == 0 ? outPath : std::string(mapName));
  }
  for (const std::string& report : reports) {
    d88::print(json ? stdout : stderr, "%s\n", report.c_str());
  }
  if (!d88::standardOutputWritten()) return 1;
  return whole ? 0 : 2;
}

int main(int argc, char** argv) {
  return d88::runProgram(programDefinition(), argc, argv, merge);
}
