#include <d88/disk_layout.h>

#include <d88/format.h>

namespace d88 {

int DiskLayout::slotOf(int number) const {
  if (number < 0) return -1;
  if (everySlot) {
    if (number % 2 != 0) return -1;
    number /= 2;
  }
  return number < kTrackCount ? number : -1;
}

DiskLayout diskLayout(Image& image) {
  DiskLayout layout;
  const Disk& disk = image.disk();
  if (image.selectedDisk() < 0) return layout;
  // Tracks of head 1: most of their records carry H 1. A record or two of
  // H 1 on a track of head 0, as copy protection writes them, does not
  // make a one-sided disk two-sided.
  int headOneTracks = 0;
  int tracksWithRecords = 0;
  bool oddSlots = false;
  // Tracks whose first record's C names the slot itself, against those whose
  // C names half of it: the two ways a one-sided disk is kept.
  int cylinderIsSlot = 0;
  int cylinderIsHalf = 0;
  for (int t = 0; t < kTrackCount; ++t) {
    if (!trackEntryInDisk(disk.tracks[static_cast<std::size_t>(t)], disk.size)) continue;
    const TrackWalk walk = image.walkTrack(t);
    if (walk.records.empty()) continue;
    ++tracksWithRecords;
    if ((t & 1) != 0) oddSlots = true;
    std::size_t headOne = 0;
    for (const SectorRecord& record : walk.records) headOne += record.id.h == 1 ? 1 : 0;
    if (2 * headOne > walk.records.size()) ++headOneTracks;
    const int c = walk.records.front().id.c;
    if (t >= 1 && c == t) ++cylinderIsSlot;
    if (t >= 1 && c == t / 2) ++cylinderIsHalf;
  }
  layout.hasRecords = tracksWithRecords > 0;
  layout.sidesKnown = tracksWithRecords >= 2;
  // One track says nothing of the sides a disk has: a dump of track 0 alone
  // stays two-sided, as its table numbers it.
  if (tracksWithRecords < 2 || headOneTracks > 0) return layout;
  if (!oddSlots) {
    layout.heads = 1;  // kept in every other slot: slot 2 x C
  } else if (cylinderIsSlot > cylinderIsHalf) {
    layout.heads = 1;
    layout.everySlot = true;
  }
  // Odd slots whose C says two tracks per cylinder: a two-sided disk whose
  // head bytes are all 0. Its slots number it.
  return layout;
}

}  // namespace d88
