// The one layout of a disk that the writer and the test image builder
// share, without the writer's checks: a builder of damaged fixtures lays out
// the sound disk through it, then breaks the fields it chooses. Private to
// the writer and the builder; not installed.
#ifndef D88CUT_WRITER_DISK_PLAN_LAYOUT_H_
#define D88CUT_WRITER_DISK_PLAN_LAYOUT_H_

#include <cstdint>
#include <vector>

#include <d88/writer.h>

namespace d88 {

// Writes `layout` as writeDisk() does, unchecked: a name is cut to
// kNameLength bytes, counts and sizes to their fields' widths, slots past
// kTrackCount are left out of the table. When `recordOffsets` is not null
// it receives, for each slot, the offset of each record header from the
// disk's start, in record order.
Status layOutDisk(const DiskPlan& layout, RecordSource& source, ByteSink& sink,
                  std::vector<std::vector<std::uint64_t>>* recordOffsets);

}  // namespace d88

#endif  // D88CUT_WRITER_DISK_PLAN_LAYOUT_H_
