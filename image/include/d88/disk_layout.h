// How the tracks of a disk stand on cylinders and heads. A D88 track table
// has a slot per track; a two-sided disk keeps cylinder C, head H in slot
// 2 x C + H. A one-sided disk is kept either the same way, in every other
// slot, or in every slot, one cylinder after another: tools differ. The
// layout tells which from the records themselves, so that every program
// numbers a disk's tracks alike, whichever slots hold them.
#ifndef D88_DISK_LAYOUT_H_
#define D88_DISK_LAYOUT_H_

#include <d88/format.h>
#include <d88/image.h>

namespace d88 {

// Track numbers 2 x C + H stay below this: a one-sided disk kept in every
// slot numbers its last slot's track 2 x (kTrackCount - 1).
constexpr int kTrackNumbers = 2 * kTrackCount;

// The heads of a disk and where its tracks stand in the table. A plain value.
struct DiskLayout {
  // 1 when no track of the disk is of head 1 (most of its records carry
  // H 1) and its slots agree: a one-sided disk, or a two-sided dump that
  // lost head 1. Else 2, and 2 for a disk with records on fewer than two
  // tracks, which says nothing of its sides.
  int heads = 2;
  // One head, kept one cylinder per slot (slot = C) rather than in every
  // other slot (slot = 2 x C). Only with heads 1.
  bool everySlot = false;
  // Whether any track of the disk holds a record.
  bool hasRecords = false;
  // Whether the records say how many sides the disk has: two tracks or
  // more hold them. Else `heads` is 2 by default, as the table numbers it.
  bool sidesKnown = false;

  // The number 2 x C + H of the track that table slot `slot` holds.
  int trackNumber(int slot) const { return everySlot ? 2 * slot : slot; }
  // The table slot that holds track number 2 x C + H `number`; -1 when this
  // layout keeps no such track (head 1 of a disk kept in every slot) or the
  // slot would lie past the table.
  int slotOf(int number) const;
  // The cylinder and head of the track in `slot`.
  int cylinderOf(int slot) const { return trackNumber(slot) / 2; }
  int headOf(int slot) const { return trackNumber(slot) % 2; }
};

// Works out the layout of the selected disk of `image` from the records of
// its tracks: one head when two tracks or more hold records and none is of
// head 1, and then one slot per cylinder when odd slots hold records whose C
// is mostly their slot's number rather than half of it. Walks every track once (the image keeps the walks, so
// later walks of them cost nothing); a track whose read fails counts with
// the records found before it. Heads 2 when no disk is selected.
DiskLayout diskLayout(Image& image);

}  // namespace d88

#endif  // D88_DISK_LAYOUT_H_
