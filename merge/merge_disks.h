// Several dumps of one disk merged into the best image: every identity any
// dump holds in a track, each record from its first sound copy in dump
// order, and what is still not whole and sound, and where the dumps'
// marks disagree, named for the report and the map.
#ifndef D88CUT_MERGE_MERGE_DISKS_H_
#define D88CUT_MERGE_MERGE_DISKS_H_

#include <string>
#include <vector>

#include <d88/disk_layout.h>
#include <d88/image.h>
#include <d88/writer.h>

#include "cut_plan.h"
#include "raw_image.h"

namespace d88 {

// A dump that is merged: its open image and how messages name it.
struct MergeDump {
  Image* image;
  std::string name;
};

// One copy of a record: the dump it comes from and its record there.
struct MergeCopy {
  int dump = 0;
  SectorRecord record{};
};

// A sector of the result that is not whole and sound: the copy taken.
// Tracks are named by their numbers 2 x C + H, as d88raw's map names them.
struct MergeFlaw {
  int track = 0;
  MergeCopy copy;
  bool isShort = false;  // the copy holds fewer bytes than its size code says
  bool markedBad = false;
  // No dump holds it (see nameAbsentSectors): `id` is the identity sought,
  // `copy` is empty.
  bool absent = false;
  SectorId id{};
};

// A sector whose copies disagree on its marks: sound in one dump, marked
// bad in another. `copies` in dump order; `taken` indexes them.
struct MarkDisagreement {
  int track = 0;
  SectorId id{};
  std::vector<MergeCopy> copies;
  std::size_t taken = 0;
};

// The copy a record of the result is taken from, and where the copies of
// other dumps that pair with it stand in DiskMerge::paired when it is the
// first dump's sound copy: those are the copies the agreement weighs.
struct MergeChoice {
  MergeCopy copy;
  std::size_t pairedAt = 0;
  std::size_t pairedCount = 0;
};

// One disk of the result as planned: what the writer writes, the slots its
// tracks stand in, the copy each record is taken from (per slot, in record
// order), and what the report says of it.
struct DiskMerge {
  int disk = 0;
  DiskPlan plan;
  // Where the result keeps each track number 2 x C + H: the first dump's
  // layout, unless another dump holds a track it has no slot for.
  DiskLayout layout;
  std::vector<std::vector<MergeChoice>> taken;
  std::vector<MergeCopy> paired;  // sound copies of later dumps, paired with the first's
  int sectors = 0;
  std::vector<int> takenFrom;  // per dump: the records taken from it
  // Records whose copy holds fewer bytes than its size says, and sectors
  // that no dump holds (nameAbsentSectors).
  int missing = 0;
  int markedBad = 0;           // records whose copy is marked bad
  std::vector<MergeFlaw> flaws;
  std::vector<MarkDisagreement> disagreements;

  // Every record whole and sound.
  bool whole() const { return missing == 0 && markedBad == 0; }
};

// Plans disk `disk` of the result from the dumps that hold it (the first
// gives the header): for each track, met across the dumps by its number
// 2 x C + H whichever slot each keeps it in, the records of the first dump that
// holds it in its order, then each identity only a later dump holds after
// the record that comes before it there; twins pair up in record order.
// Selects that disk in every dump that holds it. The sectors no dump holds
// are named as nameAbsentSectors() names them. A walk that fails is
// returned; a track of more than kMaxTrackRecords records in all is
// kCorruption.
Status planDiskMerge(std::vector<MergeDump>& dumps, int disk, DiskMerge* merge);

// Names, as absent flaws counted in merge->missing, the sectors that no
// dump holds, by the first dump's usual layout `usual` (usualGeometry): on
// each of its tracks that the result leaves empty, every sector of it; on a
// track whose records are mostly of the usual size code, each number of the
// usual range that none of them carries. A track of another size code (a
// PC-98 disk's FM track 0) and numbers outside the range (extra sectors)
// are never gaps. So a dump cut short, or a sector lost from every dump, is
// named as d88raw names it, and a track of another format is not.
void nameAbsentSectors(const RawGeometry& usual, DiskMerge* merge);

// Writes the planned disk into `sink`, each record's data read from the
// dump it is taken from (disk `merge.disk` selected in each, as
// planDiskMerge left them). A read that fails, or a record that no longer
// gives the bytes it had, is returned.
//
// As it goes it weighs each later dump against the first, as d88cut
// weighs a spare, into (*agreements)[d] (one per dump, added to): a record
// whose copies in both are sound is shared, and differs when their size
// code's bytes differ. The first dump's data is read once, for both. A
// caller that finds a dump of another disk writes the image again without it.
Status writeDiskMerge(std::vector<MergeDump>& dumps, const DiskMerge& merge, ByteSink& sink,
                      std::vector<SpareAgreement>* agreements);

}  // namespace d88

#endif  // D88CUT_MERGE_MERGE_DISKS_H_
