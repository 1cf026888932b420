// Whether a file's first disk header looks like one: the test that, with a
// disk that holds no sector record, tells a file that is no D88 image at all
// from a damaged dump. Private to the reader.
#ifndef D88CUT_IMAGE_D88_CHECK_H_
#define D88CUT_IMAGE_D88_CHECK_H_

#include <cstdint>
#include <string>

#include "disk_directory.h"

namespace d88 {

class ByteSource;

// The largest size code of a record that the reader counts as a sector when
// it decides whether a file holds any: 16,384 bytes, more than any floppy
// disk controller writes in one sector.
constexpr int kMaxPlainSizeCode = 7;

// Bytes of a stream that the check looks at: more than any floppy disk
// holds, so that a dump on a pipe is judged whole, and far below the stream
// limit, so that junk on a pipe is refused without being read on to it.
constexpr std::int64_t kCheckWindowBytes = 16 * 1024 * 1024;

// True when the header of `first` is 688 zero bytes or breaks two or more of
// the format's fixed rules: a size field smaller than a header or larger than
// the file; a write-protect byte other than 0x00 or 0x10; an unknown media
// byte; a track-table entry that points past the end of the file or back
// into the table. *why then says so, in words that follow "IMAGE is not a
// D88 image: ". One broken rule is damage, not another kind of file.
bool firstHeaderLooksWrong(ByteSource& source, const DiskEntry& first, std::string* why);

}  // namespace d88

#endif  // D88CUT_IMAGE_D88_CHECK_H_
