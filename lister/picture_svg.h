// A picture of one disk as SVG: one row per cylinder, head 0 on the left and
// head 1 on the right, one cell per record in record order, as wide as its
// data, coloured by its state. On disk 0 the sectors the cutting command reads
// are outlined and each file is named at its first sector; plan sectors the
// disk lacks are drawn as hatched slots after their track's records.
//
// Every cell carries data-track and data-r (decimal) and data-state; a cell of
// the cut plan also data-file. A missing plan sector carries data-missing="1",
// data-track, data-r and data-file, and no data-state. Each has a <title> with
// its fields for a browser to show on hover.
//
// A track whose table entry points at the same place as an earlier track's is
// not drawn again: its row holds one slot as wide as that track's records,
// carrying data-track and data-same-as (the earlier track's index), and a
// legend entry counts such rows.
#ifndef D88CUT_LISTER_PICTURE_SVG_H_
#define D88CUT_LISTER_PICTURE_SVG_H_

#include <string>

#include "disk_picture.h"

namespace d88 {

// The picture as one SVG document. Everything taken from the image or the
// path is escaped for XML; at most 164 tracks of 256 records are drawn, and
// the records of entries that share a place once, so the document stays
// within a few megabytes.
std::string diskPictureSvg(const DiskPicture& picture);

}  // namespace d88

#endif  // D88CUT_LISTER_PICTURE_SVG_H_
