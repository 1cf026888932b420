#include "listing_text.h"

#include <algorithm>
#include <cstdio>

#include "console.h"
#include "cut_plan.h"
#include "text_format.h"

namespace d88 {
namespace {

// Sector numbers as "1, 4-6".
std::string numberRanges(const std::vector<int>& numbers) {
  std::string out;
  for (std::size_t i = 0; i < numbers.size();) {
    std::size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    if (!out.empty()) out += ", ";
    out += std::to_string(numbers[i]);
    if (j > i) out += "-" + std::to_string(numbers[j]);
    i = j + 1;
  }
  return out;
}

std::string recordNumbers(const TrackListing& track, const std::vector<int>& indexes) {
  std::vector<int> numbers;
  for (int i : indexes) numbers.push_back(track.records[static_cast<std::size_t>(i)].id.r);
  return joined(numbers, ", ", [](int r) { return std::to_string(r); });
}

std::string layoutText(const TrackLayout& l) {
  return std::to_string(l.cylinders) + " x " + std::to_string(l.heads) + " x " +
         std::to_string(l.sectors) + " x " + std::to_string(l.sectorBytes);
}

// Marks after " ! ", separated by "; ": nothing when there are none.
std::string marksText(const std::vector<std::string>& marks) {
  if (marks.empty()) return "";
  return "  ! " + joined(marks, "; ", [](const std::string& m) { return m; });
}

std::string diskLine(const DiskSummary& d) {
  char head[96];
  std::snprintf(head, sizeof head, "disk %d: offset %lld (0x%llX), %lu bytes, ", d.index,
                static_cast<long long>(d.offset), static_cast<unsigned long long>(d.offset),
                static_cast<unsigned long>(d.size));
  std::string line = head + mediaText(d.mediaType);
  // Where the media byte and the tracks disagree, the tracks' own layout shows.
  const char* media = mediaName(d.mediaType);
  if (d.layout.media != nullptr && (media == nullptr || std::string(media) != d.layout.media)) {
    line += std::string(" (the tracks hold ") + d.layout.media + ": " + layoutText(d.layout) + ")";
  }
  if (d.writeProtected) line += ", write-protected";
  line += ", " + trackCountsText(d.counts);
  line += ", name \"" + displayName(d.name) + "\"";
  if (!d.contentSha256.empty()) line += ", content " + d.contentSha256.substr(0, kContentDigits);
  return line + marksText(d.problems) + "\n";
}

std::string planSectorText(const PlanSector& s) { return sectorAddressText(s.outcome.address); }

// A count with a comma between each group of three digits: "1,024".
std::string groupedNumber(long long value) {
  std::string digits = std::to_string(value);
  const std::size_t first = digits[0] == '-' ? 1 : 0;
  for (std::size_t at = digits.size(); at > first + 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

std::string coverageLines(const CutCoverage& c) {
  // A disk of another layout: counting the plan's sectors against it would
  // only make a sound disk look damaged.
  if (c.fit == CutFit::kNone) {
    return "  d88cut: this disk holds none of the sectors d88cut reads (it reads " +
           groupedNumber(sectorBytes(kPlanSizeCode)) + "-byte sectors " +
           std::to_string(kPlanSectorRange.first) + " to " +
           std::to_string(kPlanSectorRange.last) + ")\n";
  }
  const std::string of = " of " + std::to_string(c.sectors) + " sectors it reads ";
  if (c.unread.empty() && c.markedBad.empty()) {
    return "  d88cut: all " + std::to_string(c.sectors) + " sectors it reads are present\n";
  }
  std::string out;
  if (!c.unread.empty()) {
    const std::vector<PlanSector> first(
        c.unread.begin(),
        c.unread.begin() + std::min<std::ptrdiff_t>(kFirstMissingShown,
                                                    static_cast<std::ptrdiff_t>(c.unread.size())));
    out += "  d88cut: " + std::to_string(c.unread.size()) + of + "could not be read: " +
           joined(first, ", ", planSectorText) + (c.unread.size() > first.size() ? ", ..." : "") +
           "\n";
  }
  if (!c.markedBad.empty()) {
    const PlanSector& first = c.markedBad.front();
    out += "  d88cut: " + std::to_string(c.markedBad.size()) + of +
           "are marked bad in the image, the first at " + planSectorText(first) + ": " +
           statusMeaning(first.outcome.record.status) + "\n";
  }
  return out;
}

// What a record is, in words, where it is not an ordinary sound record of
// the track's size code: "C21", "N2", "data CRC error", "512 bytes".
std::string recordNotes(const TrackListing& t, const SectorRecord& record) {
  const SectorId& id = record.id;
  std::vector<std::string> notes;
  if (id.c != t.c) notes.push_back("C" + std::to_string(id.c));
  if (id.h != t.h) notes.push_back("H" + std::to_string(id.h));
  if (id.n != t.usualN) notes.push_back("N" + std::to_string(id.n));
  if (record.status != kStatusNormal) {
    notes.push_back(statusMeaning(record.status));
  }
  if (record.deletedMark == kDeletedDataMark && record.status != kStatusDeletedData) {
    notes.push_back("deleted data");
  }
  if (record.density == kDensitySingle) notes.push_back("single density");
  const bool nominal = id.n <= kMaxSizeCode && record.dataSize == (128u << id.n);
  if (record.dataAvailable < record.dataSize) {
    notes.push_back(std::to_string(record.dataAvailable) + " of " +
                    std::to_string(record.dataSize) + " bytes");
  } else if (!nominal) {
    notes.push_back(std::to_string(record.dataSize) + " bytes");
  }
  if (notes.empty()) return "";
  return "(" + joined(notes, ",", [](const std::string& n) { return n; }) + ")";
}

// A track whose records are an earlier track's, listed there: one line,
// lined up with the track lines around it, in place of its records.
std::string sharedTrackLine(const TrackListing& t) {
  char line[96];
  std::snprintf(line, sizeof line, "track %3d  C %d H %d  the same records as track %d\n", t.track,
                t.c, t.h, t.sameAs);
  return line;
}

std::string trackLine(const TrackListing& t) {
  if (t.sameAs >= 0) return sharedTrackLine(t);
  char head[96];
  std::snprintf(head, sizeof head, "track %3d  C %d H %d  N %d  %zu record%s:", t.track, t.c, t.h,
                t.usualN, t.records.size(), t.records.size() == 1 ? "" : "s");
  std::string line = head;
  for (const SectorRecord& record : t.records) {
    line += " " + std::to_string(record.id.r) + recordNotes(t, record);
  }
  std::vector<std::string> marks;
  if (!t.duplicates.empty()) {
    const std::string twins = joined(t.duplicates, ", ", [&](int i) {
      const bool differs = std::find(t.differingDuplicates.begin(), t.differingDuplicates.end(),
                                     i) != t.differingDuplicates.end();
      return std::to_string(t.records[static_cast<std::size_t>(i)].id.r) +
             (differs ? " (different bytes)" : "");
    });
    marks.push_back("duplicate: R " + twins);
  }
  if (!t.mismatched.empty()) {
    marks.push_back("C/H not the track's: R " + recordNumbers(t, t.mismatched));
  }
  if (!t.missingR.empty()) marks.push_back("gap: R " + numberRanges(t.missingR));
  if (!t.markedBad.empty()) {
    const std::string bad = joined(t.markedBad, ", ", [&](int i) {
      const SectorRecord& record = t.records[static_cast<std::size_t>(i)];
      return std::to_string(record.id.r) + " (" + statusMeaning(record.status) + ")";
    });
    marks.push_back("marked bad: R " + bad);
  }
  if (!t.deleted.empty()) marks.push_back("deleted data: R " + recordNumbers(t, t.deleted));
  if (!t.singleDensity.empty()) {
    marks.push_back("single density: R " + recordNumbers(t, t.singleDensity));
  }
  if (!t.cutOff.empty()) marks.push_back("data cut off: R " + recordNumbers(t, t.cutOff));
  if (static_cast<int>(t.records.size()) < t.usualRecords) {
    marks.push_back("fewer records than the usual " + std::to_string(t.usualRecords));
  }
  const std::string ending = trackEndText(t);
  if (!ending.empty()) marks.push_back(ending);
  return line + marksText(marks) + "\n";
}

}  // namespace

std::string disksText(const std::vector<DiskSummary>& disks, const CutCoverage* coverage,
                      const DirectoryTail& tail) {
  std::string out;
  for (const DiskSummary& d : disks) {
    out += diskLine(d);
    if (d.index == 0 && coverage != nullptr) out += coverageLines(*coverage);
  }
  // Of the file, not of a disk: after every disk line.
  if (tail.trailingBytes > 0) {
    out += "! " + std::to_string(tail.trailingBytes) +
           (tail.trailingBytes == 1 ? " byte after the last disk belongs to no disk\n"
                                    : " bytes after the last disk belong to no disk\n");
  }
  if (tail.disksNotRead) {
    out += "! disks past the " + std::to_string(kMaxDisks) + "th are not read\n";
  }
  return out;
}

std::string tracksText(const DiskSummary& disk, const std::vector<TrackListing>& tracks) {
  std::string out = diskLine(disk);
  for (const TrackListing& t : tracks) out += trackLine(t);
  return out;
}

}  // namespace d88
