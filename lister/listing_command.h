// One image listed for d88ls, whole: opened, every disk or the tracks of
// one, and every failure on the way turned into a message.
#ifndef D88CUT_LISTER_LISTING_COMMAND_H_
#define D88CUT_LISTER_LISTING_COMMAND_H_

#include <memory>
#include <string>

#include <d88/file.h>
#include <d88/image.h>

#include "text_format.h"

namespace d88 {

// One image listed for d88ls: what goes to standard output, and what failed.
struct ImageListing {
  // The listing; with a failure, as far as it got (text only). Empty when it
  // went to a sink instead.
  std::string out;
  // Empty when all went well; else the message without the program's name,
  // such as "cannot read IMAGE: Input/output error".
  std::string error;
  // The reason alone, for a JSON error document.
  std::string reason;
};

// Each call opens the image into `image`, which the caller keeps for the
// next; with `file`, that file object is read in place of `path`, which then
// only names it (see openImage).

// The disks of the image at `path` (UTF-8; "-" is standard input), one line
// each, and under disk 0 the cut plan's coverage; as text or as one JSON line.
// With `fingerprint`, each disk's content fingerprint too (contentSha256),
// which reads every sector.
ImageListing listImageDisks(Image& image, const char* path, bool json,
                            bool fingerprint = false, std::unique_ptr<File> file = nullptr);
// The tracks of disk `disk` (decimal digits as given) of the image at `path`.
// With a sink, a JSON listing that succeeds goes there piece by piece, so
// that a disk of many long tracks is never held whole. With `fingerprint`,
// the disk line carries the disk's content fingerprint.
ImageListing listImageTracks(Image& image, const char* path, const char* disk, bool json,
                             const ListingSink* sink = nullptr, bool fingerprint = false,
                             std::unique_ptr<File> file = nullptr);
// A picture of disk `disk` (decimal digits as given) of the image at `path`,
// as one SVG document (see picture_svg.h). On any failure, a read that
// failed on the way too, no picture: only the error.
ImageListing pictureImageDisk(Image& image, const char* path, const char* disk,
                              std::unique_ptr<File> file = nullptr);
}  // namespace d88

#endif  // D88CUT_LISTER_LISTING_COMMAND_H_
