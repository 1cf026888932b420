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
  bool headOne = false;
  bool oddSlots = false;
  // Tracks whose first record's C names the slot itself, against those whose
  // C names half of it: the two ways a one-sided disk is kept.
  int cylinderIsSlot = 0;
  int cylinderIsHalf = 0;
  for (int t = 0; t < kTrackCount; ++t) {
    if (!trackEntryInDisk(disk.tracks[static_cast<std::size_t>(t)], disk.size)) continue;
    const TrackWalk walk = image.walkTrack(t);
    if (walk.records.empty()) continue;
    layout.hasRecords = true;
    if ((t & 1) != 0) oddSlots = true;
    for (const SectorRecord& record : walk.records) headOne = headOne || record.id.h == 1;
    const int c = walk.records.front().id.c;
    if (t >= 1 && c == t) ++cylinderIsSlot;
    if (t >= 1 && c == t / 2) ++cylinderIsHalf;
  }
  if (!layout.hasRecords || headOne) return layout;
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
