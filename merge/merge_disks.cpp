#include "merge_disks.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <list>
#include <map>
#include <utility>

namespace d88 {
namespace {

// A record's place among those of its track that the merge pairs: its
// identity, and which of the records of that identity it is (0 for the
// first; twins count up in record order).
using PairKey = std::pair<std::uint32_t, int>;

std::uint32_t identityNumber(const SectorId& id) {
  return static_cast<std::uint32_t>(id.c) << 24 | static_cast<std::uint32_t>(id.h) << 16 |
         static_cast<std::uint32_t>(id.r) << 8 | id.n;
}

std::vector<PairKey> pairKeys(const std::vector<SectorRecord>& records) {
  std::map<std::uint32_t, int> seen;
  std::vector<PairKey> keys;
  keys.reserve(records.size());
  for (const SectorRecord& record : records) {
    const std::uint32_t id = identityNumber(record.id);
    keys.emplace_back(id, seen[id]++);
  }
  return keys;
}

// The layout the merged image keeps its tracks in: the first dump's, when
// every track any dump holds has a slot there; else the one of the two
// plain numberings (every slot for a disk whose tracks are all of head 0,
// slot = number otherwise) that places them all. kCorruption names a track
// that no layout of 164 slots can place with the others.
Status mergedLayout(std::vector<MergeDump>& dumps, const std::vector<int>& holders,
                    const std::vector<DiskLayout>& layouts, DiskLayout* result) {
  // The slots of each dump that hold records (the walks are kept: this reads
  // nothing again).
  std::vector<std::vector<int>> held(dumps.size());
  for (const int d : holders) {
    Image& image = *dumps[static_cast<std::size_t>(d)].image;
    for (int t = 0; t < kTrackCount; ++t) {
      if (!trackEntryInDisk(image.disk().tracks[static_cast<std::size_t>(t)], image.disk().size)) {
        continue;
      }
      if (!image.walkTrack(t).records.empty()) held[static_cast<std::size_t>(d)].push_back(t);
    }
  }
  bool allHeadZero = true;
  int highest = -1;
  int highestDump = 0;
  for (const int d : holders) {
    const DiskLayout& layout = layouts[static_cast<std::size_t>(d)];
    for (const int t : held[static_cast<std::size_t>(d)]) {
      const int number = layout.trackNumber(t);
      allHeadZero = allHeadZero && number % 2 == 0;
      if (number > highest) {
        highest = number;
        highestDump = d;
      }
    }
  }
  DiskLayout everySlot;
  everySlot.heads = 1;
  everySlot.everySlot = true;
  for (const DiskLayout& candidate :
       {layouts[static_cast<std::size_t>(holders.front())], allHeadZero ? everySlot : DiskLayout()}) {
    bool placesAll = true;
    for (const int d : holders) {
      for (const int t : held[static_cast<std::size_t>(d)]) {
        placesAll = placesAll &&
                    candidate.slotOf(layouts[static_cast<std::size_t>(d)].trackNumber(t)) >= 0;
      }
    }
    if (placesAll) {
      *result = candidate;
      return Status();
    }
  }
  return Status::corruption("track " + std::to_string(highest) + " (C " +
                            std::to_string(highest / 2) + ", H " + std::to_string(highest % 2) +
                            ") of " + dumps[static_cast<std::size_t>(highestDump)].name +
                            " has no slot in one image with the tracks of the other dumps");
}

// Gives the writer each record's data from the dump it is taken from, and
// weighs the paired copies of later dumps against the first dump's.
class MergeSource : public RecordSource {
 public:
  MergeSource(std::vector<MergeDump>& dumps, const DiskMerge& merge,
              std::vector<SpareAgreement>* agreements)
      : dumps_(dumps), merge_(merge), agreements_(agreements) {}

  Status data(int track, std::size_t index, const RecordLayout& record,
              std::uint8_t* buffer) override {
    const MergeChoice& choice = merge_.taken[static_cast<std::size_t>(track)][index];
    const MergeCopy& copy = choice.copy;
    Image& image = *dumps_[static_cast<std::size_t>(copy.dump)].image;
    std::int32_t got = 0;
    const auto wanted = static_cast<std::int32_t>(record.dataSize);
    const Status read = image.readRecord(copy.record, buffer, wanted, &got);
    if (got != wanted) return !read.ok() ? read : shortRecordStatus(copy.record, wanted);
    if (agreements_ == nullptr) return Status();
    // Both copies are sound: they hold at least the size code's bytes,
    // which are the sector.
    const std::int32_t bytes = sectorBytes(copy.record.id.n);
    for (std::size_t p = 0; p < choice.pairedCount; ++p) {
      const MergeCopy& other = merge_.paired[choice.pairedAt + p];
      SpareAgreement& agreement = (*agreements_)[static_cast<std::size_t>(other.dump)];
      ++agreement.shared;
      std::int32_t theirs = 0;
      if (!dumps_[static_cast<std::size_t>(other.dump)]
               .image->readRecord(other.record, scratch_.data(), bytes, &theirs)
               .ok() ||
          theirs != bytes ||
          std::memcmp(buffer, scratch_.data(), static_cast<std::size_t>(bytes)) != 0) {
        ++agreement.differing;
      }
    }
    return Status();
  }

 private:
  std::vector<MergeDump>& dumps_;
  const DiskMerge& merge_;
  std::vector<SpareAgreement>* agreements_;
  std::vector<std::uint8_t> scratch_ = std::vector<std::uint8_t>(kMaxRecordDataBytes);
};

}  // namespace

Status planDiskMerge(std::vector<MergeDump>& dumps, int disk, DiskMerge* merge) {
  *merge = DiskMerge();
  merge->disk = disk;
  merge->takenFrom.assign(dumps.size(), 0);
  std::vector<int> holders;
  for (std::size_t d = 0; d < dumps.size(); ++d) {
    if (dumps[d].image->selectDisk(disk).ok()) holders.push_back(static_cast<int>(d));
  }
  if (holders.empty()) return Status::notFound("no dump holds disk " + std::to_string(disk));
  const Disk& header = dumps[static_cast<std::size_t>(holders.front())].image->disk();
  merge->plan.name = header.name.substr(0, static_cast<std::size_t>(kNameLength));
  // Any byte but 0x00 means protected to the machines that read it. Kept as
  // it stands, a stray one (0x27) would be one of the two header flaws that
  // make a reader take the merged image, whose size, table and records are
  // sound, for another kind of file: it is written as 0x10.
  merge->plan.writeProtect = header.writeProtect == 0x00 ? 0x00 : kWriteProtected;
  merge->plan.mediaType = header.mediaType;
  merge->plan.tracks.resize(kTrackCount);
  merge->taken.resize(kTrackCount);
  // Tracks meet by their number 2 x C + H, whichever slot each dump keeps
  // them in: one-sided dumps of one disk kept two ways merge as one.
  std::vector<DiskLayout> layouts(dumps.size());
  for (const int d : holders) {
    layouts[static_cast<std::size_t>(d)] = diskLayout(*dumps[static_cast<std::size_t>(d)].image);
  }
  // A dump whose records say nothing of its sides (fewer than two tracks
  // hold any) is taken to be kept as the first dump that says.
  for (const int d : holders) {
    const DiskLayout& known = layouts[static_cast<std::size_t>(d)];
    if (!known.sidesKnown) continue;
    for (const int other : holders) {
      DiskLayout& layout = layouts[static_cast<std::size_t>(other)];
      if (!layout.sidesKnown) layout = known;
    }
    break;
  }
  const Status placed = mergedLayout(dumps, holders, layouts, &merge->layout);
  if (!placed.ok()) return placed;

  struct Entry {
    SectorId id;
    std::vector<MergeCopy> copies;  // in dump order
  };
  for (int t = 0; t < kTrackCount; ++t) {
    std::list<Entry> order;
    std::map<PairKey, std::list<Entry>::iterator> where;
    // Per identity, how many records of it each dump's track holds (dumps
    // whose track is empty lost the track, not a twin, and are left out).
    std::map<std::uint32_t, std::map<int, int>> counts;
    std::vector<TrackWalk> walks(dumps.size());
    std::size_t present = 0;  // dumps whose track holds records
    for (const int d : holders) {
      const int slot = layouts[static_cast<std::size_t>(d)].slotOf(merge->layout.trackNumber(t));
      TrackWalk& walk = walks[static_cast<std::size_t>(d)];
      if (slot >= 0) walk = dumps[static_cast<std::size_t>(d)].image->walkTrack(slot);
      if (walk.end == TrackEnd::kReadError) return walk.error;
      if (!walk.records.empty()) ++present;
      for (const SectorRecord& record : walk.records) ++counts[identityNumber(record.id)][d];
    }
    // Twins pair up by their order, which holds only where every dump kept
    // every twin. Where the dumps hold different numbers of an identity and
    // one holds it more than once, the track follows the dump that holds the
    // most of such records, so that a dump that lost a twin cannot put its
    // remaining one in another twin's place.
    std::map<int, int> twinRecords;  // per dump: records of identities whose counts differ
    for (const auto& [id, perDump] : counts) {
      int most = 0;
      int least = kMaxTrackRecords + 1;
      for (const auto& [d, n] : perDump) {
        most = std::max(most, n);
        least = std::min(least, n);
      }
      if (most < 2 || (least == most && perDump.size() == present)) continue;
      for (const auto& [d, n] : perDump) twinRecords[d] += n;
    }
    std::vector<int> lead = holders;
    if (!twinRecords.empty()) {
      const auto fullest = std::max_element(
          twinRecords.begin(), twinRecords.end(),
          [](const auto& x, const auto& y) { return x.second < y.second; });
      std::stable_partition(lead.begin(), lead.end(),
                            [&](int d) { return d == fullest->first; });
    }
    for (const int d : lead) {
      const TrackWalk& walk = walks[static_cast<std::size_t>(d)];
      const std::vector<PairKey> keys = pairKeys(walk.records);
      // The entry of the record before this one in this dump: a record the
      // result lacks goes right after it, or first when none comes before.
      auto after = order.end();
      for (std::size_t i = 0; i < keys.size(); ++i) {
        const auto found = where.find(keys[i]);
        if (found != where.end()) {
          found->second->copies.push_back({d, walk.records[i]});
          after = found->second;
          continue;
        }
        const auto at = order.insert(after == order.end() ? order.begin() : std::next(after),
                                     Entry{walk.records[i].id, {{d, walk.records[i]}}});
        where.emplace(keys[i], at);
        after = at;
      }
    }
    // Copies stand in dump order, whichever dump led the track.
    for (Entry& entry : order) {
      std::stable_sort(entry.copies.begin(), entry.copies.end(),
                       [](const MergeCopy& x, const MergeCopy& y) { return x.dump < y.dump; });
    }
    if (order.size() > static_cast<std::size_t>(kMaxTrackRecords)) {
      return Status::corruption("track " + std::to_string(merge->layout.trackNumber(t)) + " of disk " + std::to_string(disk) +
                                " holds " + std::to_string(order.size()) +
                                " records in the dumps together; a track holds " +
                                std::to_string(kMaxTrackRecords) + " at most");
    }
    auto& records = merge->plan.tracks[static_cast<std::size_t>(t)];
    auto& taken = merge->taken[static_cast<std::size_t>(t)];
    for (const Entry& entry : order) {
      // Twins (an identity more than once in some dump's track) are never
      // weighed for the same-disk check, which could not tell them apart;
      // where the dumps hold different numbers of them, every twin comes
      // from the dump that led the track.
      const std::map<int, int>& perDump = counts[identityNumber(entry.id)];
      int most = 0;
      bool sameCounts = perDump.size() == present;
      for (const auto& [d, n] : perDump) {
        sameCounts = sameCounts && (most == 0 || n == most);
        most = std::max(most, n);
      }
      const bool twins = most > 1;
      std::size_t chosen = 0;
      while (chosen < entry.copies.size() && !isSoundRecord(entry.copies[chosen].record)) ++chosen;
      if (chosen == entry.copies.size()) chosen = 0;
      if (twins && !sameCounts) {
        for (std::size_t c = 0; c < entry.copies.size(); ++c) {
          if (entry.copies[c].dump == lead.front()) chosen = c;
        }
      }
      const MergeCopy& copy = entry.copies[chosen];
      const SectorRecord& r = copy.record;
      RecordLayout layout;
      layout.id = r.id;
      layout.density = r.density;
      layout.deletedMark = r.deletedMark;
      layout.status = r.status;
      layout.dataSize = static_cast<std::uint32_t>(std::max<std::int32_t>(r.dataAvailable, 0));
      records.push_back(layout);
      MergeChoice choice{copy, merge->paired.size(), 0};
      if (copy.dump == 0 && isSoundRecord(r) && !twins) {
        for (const MergeCopy& other : entry.copies) {
          if (other.dump != 0 && isSoundRecord(other.record)) merge->paired.push_back(other);
        }
        choice.pairedCount = merge->paired.size() - choice.pairedAt;
      }
      taken.push_back(choice);
      ++merge->sectors;
      ++merge->takenFrom[static_cast<std::size_t>(copy.dump)];
      const std::int32_t nominal = sectorBytes(r.id.n);
      MergeFlaw flaw{merge->layout.trackNumber(t), copy, nominal == 0 || r.dataAvailable < nominal, isMarkedBad(r.status)};
      if (flaw.isShort) ++merge->missing;
      if (flaw.markedBad) ++merge->markedBad;
      if (flaw.isShort || flaw.markedBad) merge->flaws.push_back(flaw);
      bool anySound = false;
      bool anyMarked = false;
      for (const MergeCopy& c : entry.copies) {
        anySound = anySound || isSoundRecord(c.record);
        anyMarked = anyMarked || isMarkedBad(c.record.status);
      }
      if (anySound && anyMarked) {
        merge->disagreements.push_back({merge->layout.trackNumber(t), r.id, entry.copies, chosen});
      }
    }
  }
  nameAbsentSectors(usualGeometry(*dumps[static_cast<std::size_t>(holders.front())].image), merge);
  return Status();
}

void nameAbsentSectors(const RawGeometry& usual, DiskMerge* merge) {
  if (usual.sectors <= 0) return;
  const int usualLast = usual.firstR + usual.sectors - 1;
  for (int i = 0; i < usual.tracks; ++i) {
    const int number = usual.trackNumber(i);
    const int slot = merge->layout.slotOf(number);
    if (slot < 0) continue;
    const std::vector<RecordLayout>& records = merge->plan.tracks[static_cast<std::size_t>(slot)];
    std::array<int, 256> perSizeCode{};
    std::array<bool, 256> held{};
    for (const RecordLayout& record : records) ++perSizeCode[record.id.n];
    const int trackN = records.empty()
                           ? usual.sizeCode
                           : static_cast<int>(std::max_element(perSizeCode.begin(), perSizeCode.end()) -
                                              perSizeCode.begin());
    for (const RecordLayout& record : records) {
      if (record.id.n == trackN) held[record.id.r] = true;
    }
    // A track of another size code is another format (a PC-98 disk's FM
    // track 0): only its absence says a sector is lost. Numbers outside the
    // usual range are extra sectors, not gaps.
    if (!records.empty() && trackN != usual.sizeCode) continue;
    for (int r = usual.firstR; r <= usualLast; ++r) {
      if (held[static_cast<std::size_t>(r)]) continue;
      MergeFlaw flaw;
      flaw.track = number;
      flaw.absent = true;
      flaw.id = {static_cast<std::uint8_t>(merge->layout.cylinderOf(slot)),
                 static_cast<std::uint8_t>(merge->layout.headOf(slot)),
                 static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(trackN)};
      merge->flaws.push_back(flaw);
      ++merge->missing;
    }
  }
  // The map lists flaws in track order, then by R.
  std::stable_sort(merge->flaws.begin(), merge->flaws.end(),
                   [](const MergeFlaw& a, const MergeFlaw& b) { return a.track < b.track; });
}

Status writeDiskMerge(std::vector<MergeDump>& dumps, const DiskMerge& merge, ByteSink& sink,
                      std::vector<SpareAgreement>* agreements) {
  for (const MergeDump& dump : dumps) (void)dump.image->selectDisk(merge.disk);
  if (agreements != nullptr) agreements->resize(dumps.size());
  MergeSource source(dumps, merge, agreements);
  return writeDisk(merge.plan, source, sink);
}

}  // namespace d88
