#include "listing_json.h"

#include <algorithm>
#include <cstdio>

#include "console.h"
#include "text_format.h"

namespace d88 {
namespace {

std::string jsonInts(const std::vector<int>& values) {
  return "[" + joined(values, ",", [](int v) { return std::to_string(v); }) + "]";
}

std::string jsonAddress(const SectorAddress& a) {
  return "{\"track\":" + std::to_string(a.track) + ",\"c\":" + std::to_string(a.c) +
         ",\"h\":" + std::to_string(a.h) + ",\"r\":" + std::to_string(a.r) +
         ",\"n\":" + std::to_string(a.n) + "}";
}

std::string jsonBool(bool value) { return value ? "true" : "false"; }

std::string jsonStrings(const std::vector<std::string>& values) {
  return "[" + joined(values, ",", jsonString) + "]";
}

std::string jsonImage(const std::string& path) { return jsonPathMember("image", path); }

std::string jsonDisk(const DiskSummary& d) {
  const char* media = mediaName(d.mediaType);
  std::string layout = "null";
  if (d.layout.media != nullptr) {
    layout = "{\"cylinders\":" + std::to_string(d.layout.cylinders) +
             ",\"heads\":" + std::to_string(d.layout.heads) +
             ",\"sectors\":" + std::to_string(d.layout.sectors) +
             ",\"sectorBytes\":" + std::to_string(d.layout.sectorBytes) +
             ",\"media\":" + jsonString(d.layout.media) + "}";
  }
  return "{\"index\":" + std::to_string(d.index) + ",\"offset\":" + std::to_string(d.offset) +
         ",\"size\":" + std::to_string(d.size) + ",\"mediaType\":" + std::to_string(d.mediaType) +
         ",\"media\":" + (media != nullptr ? jsonString(media) : std::string("null")) +
         ",\"writeProtected\":" + jsonBool(d.writeProtected) +
         ",\"name\":" + jsonString(displayName(d.name)) + ",\"tracks\":" + std::to_string(d.counts.tracks) +
         ",\"sectorsPerTrack\":{\"min\":" + std::to_string(d.counts.minRecords) +
         ",\"max\":" + std::to_string(d.counts.maxRecords) +
         "},\"sizeCodes\":" + jsonInts(d.counts.sizeCodes) +
         ",\"layout\":" + layout + ",\"problems\":" + jsonStrings(d.problems) +
         (d.contentSha256.empty() ? "" : ",\"contentSha256\":" + jsonString(d.contentSha256)) +
         "}";
}

// One record as JSON, appended to `out`: one formatted write, since a disk
// of damaged tracks can have tens of thousands of records.
void appendJsonRecord(std::string& out, const SectorRecord& record) {
  const SectorId& id = record.id;
  char text[512];
  const int length = std::snprintf(
      text, sizeof text,
      "{\"c\":%u,\"h\":%u,\"r\":%u,\"n\":%u,\"recordCount\":%u,\"singleDensity\":%s,"
      "\"density\":%u,\"deleted\":%s,\"deletedMark\":%u,\"status\":%u,\"statusMeaning\":%s,"
      "\"markedBad\":%s,\"dataSize\":%u,\"dataAvailable\":%d,\"offset\":%lld}",
      id.c, id.h, id.r, id.n, record.recordCount,
      jsonBool(record.density == kDensitySingle).c_str(), record.density,
      jsonBool(isDeletedData(record)).c_str(), record.deletedMark, record.status,
      jsonString(statusMeaning(record.status)).c_str(), jsonBool(isMarkedBad(record.status)).c_str(),
      record.dataSize, static_cast<int>(record.dataAvailable),
      static_cast<long long>(record.headerOffset));
  if (length > 0) out.append(text, std::min(static_cast<std::size_t>(length), sizeof text - 1));
}

// Why a walk ended, as JSON names it.
const char* jsonTrackEnd(TrackEnd end) {
  switch (end) {
    case TrackEnd::kRecordCount:
      return "recordCount";
    case TrackEnd::kZeroCount:
      return "zeroCount";
    case TrackEnd::kDiskEnd:
      return "diskEnd";
    case TrackEnd::kHeaderCutOff:
      return "headerCutOff";
    case TrackEnd::kCap:
      return "cap";
    case TrackEnd::kReadError:
      return "readError";
  }
  return "unknown";
}

void appendJsonTrack(std::string& out, const TrackListing& t) {
  out += "{\"track\":" + std::to_string(t.track) + ",\"c\":" + std::to_string(t.c) +
         ",\"h\":" + std::to_string(t.h);
  // The records, and all that is said of them, are the earlier track's.
  if (t.sameAs >= 0) {
    out += ",\"sameAs\":" + std::to_string(t.sameAs) + "}";
    return;
  }
  out += ",\"usualN\":" + std::to_string(t.usualN) +
         ",\"records\":[";
  for (std::size_t i = 0; i < t.records.size(); ++i) {
    if (i != 0) out += ',';
    appendJsonRecord(out, t.records[i]);
  }
  out += "],\"duplicates\":" + jsonInts(t.duplicates) +
         ",\"differingDuplicates\":" + jsonInts(t.differingDuplicates) +
         ",\"mismatched\":" + jsonInts(t.mismatched) + ",\"missingR\":" + jsonInts(t.missingR) +
         ",\"markedBad\":" + jsonInts(t.markedBad) + ",\"deleted\":" + jsonInts(t.deleted) +
         ",\"singleDensity\":" + jsonInts(t.singleDensity) + ",\"cutOff\":" + jsonInts(t.cutOff) +
         ",\"usualRecords\":" + std::to_string(t.usualRecords) +
         ",\"end\":" + jsonString(jsonTrackEnd(t.end)) +
         ",\"endOffset\":" + std::to_string(t.endOffset) +
         (t.end == TrackEnd::kReadError ? ",\"error\":" + jsonString(t.error.reason()) : "") + "}";
}

// A sector of the cut plan: the file it belongs to, its address, and what
// became of it.
std::string jsonPlanSector(const PlanSector& s) {
  const SectorOutcome& o = s.outcome;
  std::string out = "{\"file\":" + jsonString(s.file) + ",\"sector\":" + jsonAddress(o.address) +
                    ",\"found\":" + jsonBool(o.found) + ",\"bytesRead\":" +
                    std::to_string(o.bytesRead) + ",\"bytesWanted\":" + std::to_string(o.slotBytes);
  if (o.found) {
    out += ",\"status\":" + std::to_string(o.record.status) +
           ",\"statusMeaning\":" + jsonString(statusMeaning(o.record.status));
  }
  // Why the sector gave fewer bytes than the file takes from it.
  if (!o.status.ok()) out += ",\"reason\":" + jsonString(safeUtf8(o.status.toString()));
  return out + "}";
}

// The missing sectors are listed only where the plan applies: on a disk of
// another layout every one of them is missing, and the list would say
// nothing the kind does not. Marked sectors are listed whenever there are
// any, so an incomplete disk names its marked ones too.
std::string jsonCoverage(const CutCoverage& c) {
  const bool listMissing = c.fit != CutFit::kNone;
  std::vector<SectorAddress> first;
  for (const PlanSector& s : c.unread) {
    if (listMissing && first.size() < static_cast<std::size_t>(kFirstMissingShown)) {
      first.push_back(s.outcome.address);
    }
  }
  return "{\"disk\":0,\"sectors\":" + std::to_string(c.sectors) +
         ",\"found\":" + std::to_string(c.found) + ",\"kind\":" + jsonString(cutFitName(c.fit)) +
         ",\"missing\":" + std::to_string(c.unread.size()) + ",\"firstMissing\":[" +
         joined(first, ",", jsonAddress) + "],\"markedBad\":" + std::to_string(c.markedBad.size()) +
         ",\"missingSectors\":[" +
         (listMissing ? joined(c.unread, ",", jsonPlanSector) : std::string()) +
         "],\"markedSectors\":[" + joined(c.markedBad, ",", jsonPlanSector) + "]}";
}

}  // namespace

std::string disksJson(const std::string& imagePath, const std::vector<DiskSummary>& disks,
                      const CutCoverage* coverage, const DirectoryTail& tail) {
  std::string out = "{" + jsonImage(imagePath) + ",\"disks\":[" +
                    joined(disks, ",", jsonDisk) + "],\"trailingBytes\":" +
                    std::to_string(tail.trailingBytes) +
                    ",\"disksNotRead\":" + jsonBool(tail.disksNotRead);
  if (coverage != nullptr) {
    out += ",\"cutPlan\":" + jsonCoverage(*coverage);
  }
  return out + "}\n";
}

std::string errorJson(const std::string& imagePath, const std::string& reason) {
  return "{" + jsonImage(imagePath) + ",\"error\":" +
         jsonString(safeUtf8(reason)) + "}\n";
}

bool writeTracksJson(const std::string& imagePath, const DiskSummary& disk,
                     const std::vector<TrackListing>& tracks, const ListingSink& sink) {
  // One buffer, handed on and used again whenever it holds a piece.
  constexpr std::size_t kPiece = 64 * 1024;
  std::string out;
  out.reserve(2 * kPiece);
  out += "{" + jsonImage(imagePath) + ",\"disk\":" + jsonDisk(disk) + ",\"tracks\":[";
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    if (i != 0) out += ',';
    appendJsonTrack(out, tracks[i]);
    if (out.size() >= kPiece) {
      if (!sink(out)) return false;
      out.clear();
    }
  }
  out += "]}\n";
  return sink(out);
}

std::string tracksJson(const std::string& imagePath, const DiskSummary& disk,
                       const std::vector<TrackListing>& tracks) {
  std::string all;
  writeTracksJson(imagePath, disk, tracks, [&all](const std::string& piece) {
    all += piece;
    return true;
  });
  return all;
}

}  // namespace d88
