// Two D88 images compared disk by disk and sector by sector: disk k of one
// with disk k of the other, each sector by its track and identity (C, H, R,
// N). Only what the sectors hold counts; the disks' names, media bytes,
// write protection and record order are noted, not counted as differences.
#ifndef D88CUT_COMPARER_DISK_COMPARE_H_
#define D88CUT_COMPARER_DISK_COMPARE_H_

#include <array>
#include <functional>
#include <string>
#include <vector>

#include <d88/image.h>
#include <d88/status.h>

namespace d88 {

// What became of one sector in the comparison. A copy is sound as
// isSoundRecord() says.
enum class SectorKind {
  kSame,       // both copies hold the same bytes, status, density and deleted mark
  kBetterInA,  // A's copy is sound, B's is marked bad or short
  kBetterInB,
  kDiffers,    // both copies are sound and differ in their bytes or attributes
  kBadInBoth,  // neither copy is sound, and they are not the same
  kOnlyInA,    // no partner in B (a twin without its twin counts too)
  kOnlyInB,
};
constexpr int kSectorKinds = 7;

// The kind in the words of the listing: "same", "better in A", "better in B",
// "differs", "bad in both", "only in A", "only in B".
const char* sectorKindText(SectorKind kind);

// One sector compared.
struct SectorComparison {
  // The track's number 2 x C + H (diskLayout: the slot, on all but a
  // one-sided disk kept in every slot) and the sector's identity.
  SectorAddress address;
  SectorKind kind = SectorKind::kSame;
  std::string detail;     // what sets the copies apart, in words; empty when same
  bool inA = false;       // a and b hold the copies where there are
  bool inB = false;
  SectorRecord a{};
  SectorRecord b{};
};

// One disk compared.
struct DiskComparison {
  int index = 0;
  bool inA = false;  // the disk is in A's file, in B's
  bool inB = false;
  int sectors = 0;   // sectors compared, paired or not; a disk of one file: its sectors
  std::array<int, kSectorKinds> counts{};  // sectors of each kind, by SectorKind
  // What differs without making the disks differ: name, media byte, write
  // protection, record order.
  std::vector<std::string> notes;

  // Both files hold the disk, and every sector of it is the same.
  bool same() const;
  int count(SectorKind kind) const { return counts[static_cast<std::size_t>(kind)]; }
};

// Takes each sector that is not the same, as it is found; false to stop the
// comparison.
using SectorSink = std::function<bool(const SectorComparison&)>;

// A track whose table entry, in both images, points at the same place as an
// earlier track's: the same earlier track in A and in B. Its records are that
// track's, so they are not compared again; what that track's comparison
// counted is counted for this one too.
// Tracks are named by their numbers 2 x C + H, as SectorComparison's are.
struct SharedTrack {
  int track = 0;   // the track not compared again
  int sameAs = 0;  // the earlier track whose records it shares, as sameRecordsAs() names it
  std::array<int, kSectorKinds> counts{};  // sameAs's sectors of each kind, by SectorKind
};

// Takes each shared track whose records hold a sector that is not the same,
// in its place among the sectors; false to stop the comparison.
using SharedTrackSink = std::function<bool(const SharedTrack&)>;

// Why a comparison could not be made: the image that failed ('A' or 'B'),
// and the reason. side 0 with an ok status: the sink asked to stop.
struct CompareFailure {
  char side = 0;
  Status status;
};

// Compares disk `index` of a with disk `index` of b (either may lack it),
// track by track: it selects the disk in each, walks the track of number
// 2 x C + H t in both, wherever each image's layout keeps it, pairs
// records of one identity in record order, and reads one record of each side
// at a time, so that memory stays bounded by one track's walk whatever the
// images claim. Each sector that is not the same goes to `onDifference`
// (nothing for a disk that only one file holds). A track that both images
// share with the same earlier track is compared once: it goes to
// `onSharedTrack` in place of its sectors when that track's sectors were not
// all the same, and counts in *result as that track did. Where only one image
// shares, or they share with different tracks, the track is compared as any
// other, so the work stays bounded by the other image's own records. False,
// with *failure, when reading either image failed or a sink said stop;
// *result then holds what was counted so far.
bool compareDisk(Image& a, Image& b, int index, const SectorSink& onDifference,
                 const SharedTrackSink& onSharedTrack, DiskComparison* result,
                 CompareFailure* failure);

}  // namespace d88

#endif  // D88CUT_COMPARER_DISK_COMPARE_H_
