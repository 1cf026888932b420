#include "disk_compare.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <d88/disk_layout.h>

#include "text_format.h"

namespace d88 {
namespace {

// The most data bytes a record holds: its size field is 16 bits.
constexpr std::int32_t kMaxRecordData = 0xFFFF;

// Why a copy is not sound: its status, and data shorter than its size code.
std::string unsoundReason(const SectorRecord& record) {
  std::vector<std::string> reasons;
  if (isMarkedBad(record.status)) reasons.push_back(statusMeaning(record.status));
  const std::int32_t nominal = sectorBytes(record.id.n);
  if (nominal == 0) {
    reasons.push_back("size code " + std::to_string(record.id.n) + " out of range");
  } else if (record.dataAvailable < nominal) {
    reasons.push_back(std::to_string(std::max<std::int32_t>(record.dataAvailable, 0)) + " of " +
                      std::to_string(nominal) + " bytes");
  }
  std::string out;
  for (const std::string& reason : reasons) out += (out.empty() ? "" : ", ") + reason;
  return out;
}

// The one image's side of a comparison: its reader, its name in failures,
// and a buffer for one record's data.
struct Side {
  Image* image;
  char name;
  std::vector<std::uint8_t> data;
};

// Reads the data the disk holds of `record`; false, with the reason, when
// the read failed.
bool readData(Side& side, const SectorRecord& record, std::int32_t* length,
              CompareFailure* failure) {
  *length = std::max<std::int32_t>(record.dataAvailable, 0);
  if (*length == 0) return true;
  std::int32_t got = 0;
  const Status read = side.image->readRecord(record, side.data.data(), kMaxRecordData, &got);
  if (got == *length) return true;
  failure->side = side.name;
  failure->status =
      !read.ok() ? read : Status::corruption("a record's data could not be read whole");
  return false;
}

// How two copies of one sector differ in their attributes and bytes, in
// words; empty when they do not.
bool describeDifferences(Side& a, Side& b, const SectorRecord& ra, const SectorRecord& rb,
                         std::vector<std::string>* differences, CompareFailure* failure) {
  std::int32_t lengthA = 0;
  std::int32_t lengthB = 0;
  if (!readData(a, ra, &lengthA, failure) || !readData(b, rb, &lengthB, failure)) return false;
  const std::int32_t common = std::min(lengthA, lengthB);
  if (std::memcmp(a.data.data(), b.data.data(), static_cast<std::size_t>(common)) != 0) {
    int count = 0;
    std::int32_t first = -1;
    for (std::int32_t i = 0; i < common; ++i) {
      const std::size_t at = static_cast<std::size_t>(i);
      if (a.data[at] != b.data[at]) {
        if (first < 0) first = i;
        ++count;
      }
    }
    differences->push_back(std::to_string(count) +
                           (count == 1 ? " byte differs" : " bytes differ") +
                           ", the first at byte " + std::to_string(first));
  }
  if (lengthA != lengthB) {
    differences->push_back("data length: A " + std::to_string(lengthA) + ", B " +
                           std::to_string(lengthB) + " bytes");
  }
  if (ra.status != rb.status) {
    differences->push_back("status: A " + statusMeaning(ra.status) + ", B " +
                           statusMeaning(rb.status));
  }
  if (ra.density != rb.density) {
    const auto density = [](std::uint8_t d) {
      return d == kDensitySingle ? std::string("single")
             : d == 0            ? std::string("double")
                                 : hexByte(d);
    };
    differences->push_back("density: A " + density(ra.density) + ", B " + density(rb.density));
  }
  if (ra.deletedMark != rb.deletedMark) {
    differences->push_back("deleted mark: A " + hexByte(ra.deletedMark) + ", B " +
                           hexByte(rb.deletedMark));
  }
  return true;
}

std::string joinedWords(const std::vector<std::string>& words, const char* separator) {
  std::string out;
  for (const std::string& word : words) {
    if (!out.empty()) out += separator;
    out += word;
  }
  return out;
}

// Compares the two copies of one sector.
bool comparePair(Side& a, Side& b, SectorComparison* sector, CompareFailure* failure) {
  const bool soundA = isSoundRecord(sector->a);
  const bool soundB = isSoundRecord(sector->b);
  if (soundA != soundB) {
    // Which copy is better is all that counts here; the bytes are not read.
    sector->kind = soundA ? SectorKind::kBetterInA : SectorKind::kBetterInB;
    sector->detail = soundA ? "B: " + unsoundReason(sector->b) : "A: " + unsoundReason(sector->a);
    return true;
  }
  std::vector<std::string> differences;
  if (!describeDifferences(a, b, sector->a, sector->b, &differences, failure)) return false;
  if (differences.empty()) {
    sector->kind = SectorKind::kSame;
  } else if (soundA) {
    sector->kind = SectorKind::kDiffers;
    sector->detail = joinedWords(differences, "; ");
  } else {
    sector->kind = SectorKind::kBadInBoth;
    const std::string reasonA = unsoundReason(sector->a);
    const std::string reasonB = unsoundReason(sector->b);
    sector->detail = reasonA == reasonB ? reasonA : "A: " + reasonA + ", B: " + reasonB;
    sector->detail += "; " + joinedWords(differences, "; ");
  }
  return true;
}

// The notes of the disks' headers.
void headerNotes(const Disk& a, const Disk& b, std::vector<std::string>* notes) {
  const std::string& nameA = a.name;
  const std::string& nameB = b.name;
  if (nameA != nameB) {
    notes->push_back("name differs: A \"" + displayName(nameA) + "\", B \"" + displayName(nameB) +
                     "\"");
  }
  if (a.mediaType != b.mediaType) {
    notes->push_back("media byte differs: A " + mediaText(a.mediaType) + ", B " +
                     mediaText(b.mediaType));
  }
  const bool protectedA = a.writeProtect == kWriteProtected;
  const bool protectedB = b.writeProtect == kWriteProtected;
  if (protectedA != protectedB) {
    notes->push_back(std::string("write protection differs: A ") +
                     (protectedA ? "write-protected" : "not") + ", B " +
                     (protectedB ? "write-protected" : "not"));
  }
}

// Records of a disk that only one file holds. A track that shares an
// earlier track's records counts them again without walking them again.
bool countRecords(Image& image, char name, int* sectors, CompareFailure* failure) {
  std::array<int, kTrackCount> perTrack{};
  for (int t = 0; t < kTrackCount; ++t) {
    const int sameAs = sameRecordsAs(image.disk(), t);
    if (sameAs >= 0) {
      perTrack[static_cast<std::size_t>(t)] = perTrack[static_cast<std::size_t>(sameAs)];
    } else {
      const TrackWalk walk = image.walkTrack(t);
      if (walk.end == TrackEnd::kReadError) {
        *failure = {name, walk.error};
        return false;
      }
      perTrack[static_cast<std::size_t>(t)] = static_cast<int>(walk.records.size());
    }
    *sectors += perTrack[static_cast<std::size_t>(t)];
  }
  return true;
}

// A read that failed without a walk or a record read saying so.
bool checkReads(const Image& image, char name, CompareFailure* failure) {
  if (image.readFailure().ok()) return true;
  *failure = {name, image.readFailure()};
  return false;
}

}  // namespace

const char* sectorKindText(SectorKind kind) {
  switch (kind) {
    case SectorKind::kSame:
      return "same";
    case SectorKind::kBetterInA:
      return "better in A";
    case SectorKind::kBetterInB:
      return "better in B";
    case SectorKind::kDiffers:
      return "differs";
    case SectorKind::kBadInBoth:
      return "bad in both";
    case SectorKind::kOnlyInA:
      return "only in A";
    case SectorKind::kOnlyInB:
      return "only in B";
  }
  return "unknown";
}

bool DiskComparison::same() const {
  return inA && inB && count(SectorKind::kSame) == sectors;
}

bool compareDisk(Image& a, Image& b, int index, const SectorSink& onDifference,
                 const SharedTrackSink& onSharedTrack, DiskComparison* result,
                 CompareFailure* failure) {
  DiskComparison& r = *result;
  r = DiskComparison();
  r.index = index;
  r.inA = a.selectDisk(index).ok();
  if (!checkReads(a, 'A', failure)) return false;
  r.inB = b.selectDisk(index).ok();
  if (!checkReads(b, 'B', failure)) return false;
  if (!r.inA || !r.inB) {
    // Every sector of a disk that one file holds is only in that file.
    const bool counted =
        !r.inA && !r.inB ? true
        : r.inA          ? countRecords(a, 'A', &r.sectors, failure) && checkReads(a, 'A', failure)
                         : countRecords(b, 'B', &r.sectors, failure) && checkReads(b, 'B', failure);
    if (r.inA != r.inB) {
      r.counts[static_cast<std::size_t>(r.inA ? SectorKind::kOnlyInA : SectorKind::kOnlyInB)] =
          r.sectors;
    }
    return counted;
  }
  headerNotes(a.disk(), b.disk(), &r.notes);

  Side sideA{&a, 'A', std::vector<std::uint8_t>(static_cast<std::size_t>(kMaxRecordData))};
  Side sideB{&b, 'B', std::vector<std::uint8_t>(static_cast<std::size_t>(kMaxRecordData))};
  std::vector<std::size_t> orderA;
  std::vector<std::size_t> orderB;
  int reordered = 0;
  int firstReordered = -1;
  // Tracks pair up by their number 2 x C + H, whichever slot each image
  // keeps them in, so that one-sided dumps of one disk kept in different
  // slots compare as the same. Two-sided disks number tracks by slot.
  const DiskLayout layoutA = diskLayout(a);
  const DiskLayout layoutB = diskLayout(b);
  // The number of the track whose records the track in `slot` shares; -1 when none.
  const auto sharedNumber = [](const Image& image, const DiskLayout& layout, int slot) {
    const int same = slot >= 0 ? sameRecordsAs(image.disk(), slot) : -1;
    return same >= 0 ? layout.trackNumber(same) : -1;
  };
  // What each track's comparison found, for the tracks that share its records.
  std::vector<std::array<int, kSectorKinds>> trackCounts(kTrackNumbers);
  std::vector<bool> trackReordered(kTrackNumbers);
  SectorComparison sector;
  for (int t = 0; t < kTrackNumbers; ++t) {
    const std::size_t at = static_cast<std::size_t>(t);
    const int slotA = layoutA.slotOf(t);
    const int slotB = layoutB.slotOf(t);
    if (slotA < 0 && slotB < 0) continue;
    const int sameAs = sharedNumber(a, layoutA, slotA);
    if (sameAs >= 0 && sameAs == sharedNumber(b, layoutB, slotB)) {
      // Both images hold track sameAs's records here: what its comparison
      // found holds for this track too, note and counts alike.
      const std::size_t earlier = static_cast<std::size_t>(sameAs);
      trackCounts[at] = trackCounts[earlier];
      trackReordered[at] = trackReordered[earlier];
      if (trackReordered[at]) ++reordered;
      int sectors = 0;
      for (std::size_t k = 0; k < trackCounts[at].size(); ++k) {
        r.counts[k] += trackCounts[at][k];
        sectors += trackCounts[at][k];
      }
      r.sectors += sectors;
      const SharedTrack shared{t, sameAs, trackCounts[at]};
      if (sectors != shared.counts[static_cast<std::size_t>(SectorKind::kSame)] &&
          !onSharedTrack(shared)) {
        *failure = CompareFailure();
        return false;
      }
      continue;
    }
    const TrackWalk walkA = slotA >= 0 ? a.walkTrack(slotA) : TrackWalk();
    if (walkA.end == TrackEnd::kReadError) {
      *failure = {'A', walkA.error};
      return false;
    }
    const TrackWalk walkB = slotB >= 0 ? b.walkTrack(slotB) : TrackWalk();
    if (walkB.end == TrackEnd::kReadError) {
      *failure = {'B', walkB.error};
      return false;
    }
    const std::vector<SectorRecord>& recordsA = walkA.records;
    const std::vector<SectorRecord>& recordsB = walkB.records;
    orderByIdentity(recordsA, &orderA);
    orderByIdentity(recordsB, &orderB);

    // The same identities in another record order: a note, not a difference.
    if (recordsA.size() == recordsB.size() && !recordsA.empty()) {
      bool sameSet = true;
      bool sameOrder = true;
      for (std::size_t i = 0; i < recordsA.size(); ++i) {
        sameSet = sameSet && sameIdentity(recordsA[orderA[i]].id, recordsB[orderB[i]].id);
        sameOrder = sameOrder && sameIdentity(recordsA[i].id, recordsB[i].id);
      }
      trackReordered[at] = sameSet && !sameOrder;
      if (trackReordered[at] && reordered++ == 0) firstReordered = t;
    }

    // Merge the two ordered lists: equal identities pair up in turn.
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < orderA.size() || j < orderB.size()) {
      sector = SectorComparison();
      const SectorRecord* ra = i < orderA.size() ? &recordsA[orderA[i]] : nullptr;
      const SectorRecord* rb = j < orderB.size() ? &recordsB[orderB[j]] : nullptr;
      if (ra != nullptr && (rb == nullptr || identityBefore(ra->id, rb->id))) {
        sector.kind = SectorKind::kOnlyInA;
        rb = nullptr;
        ++i;
      } else if (rb != nullptr && (ra == nullptr || identityBefore(rb->id, ra->id))) {
        sector.kind = SectorKind::kOnlyInB;
        ra = nullptr;
        ++j;
      } else {
        ++i;
        ++j;
      }
      const SectorId& id = ra != nullptr ? ra->id : rb->id;
      sector.address = {t, id.c, id.h, id.r, id.n};
      sector.inA = ra != nullptr;
      sector.inB = rb != nullptr;
      if (ra != nullptr) sector.a = *ra;
      if (rb != nullptr) sector.b = *rb;
      if (ra != nullptr && rb != nullptr && !comparePair(sideA, sideB, &sector, failure)) {
        return false;
      }
      ++r.sectors;
      ++r.counts[static_cast<std::size_t>(sector.kind)];
      ++trackCounts[at][static_cast<std::size_t>(sector.kind)];
      if (sector.kind != SectorKind::kSame && !onDifference(sector)) {
        *failure = CompareFailure();
        return false;
      }
    }
  }
  if (reordered > 0) {
    r.notes.push_back("record order differs on " + std::to_string(reordered) +
                      (reordered == 1 ? " track" : " tracks") + ", the first track " +
                      std::to_string(firstReordered));
  }
  return checkReads(a, 'A', failure) && checkReads(b, 'B', failure);
}

}  // namespace d88
