// One image listed for d88ls, whole: opened, every disk or the tracks of
// one, and every failure on the way turned into a message.
#ifndef D88CUT_LISTER_LIST_IMAGE_H_
#define D88CUT_LISTER_LIST_IMAGE_H_

#include <string>

#include <d88/d88_image.h>

namespace d88 {

// One image listed for d88ls: what goes to standard output, and what failed.
struct ImageListing {
  std::string out;  // the listing; with a failure, as far as it got (text only)
  // Empty when all went well; else the message without the program's name,
  // such as "cannot read IMAGE: Input/output error".
  std::string error;
  // The reason alone, for a JSON error document.
  std::string reason;
};

// The disks of the image at `path` (UTF-8; "-" is standard input), one line
// each, and under disk 0 the cut plan's coverage; as text or as one JSON line.
ImageListing listImageDisks(D88Image& image, const char* path, bool json);
// The tracks of disk `disk` (decimal digits as given) of the image at `path`.
ImageListing listImageTracks(D88Image& image, const char* path, const char* disk, bool json);
}  // namespace d88

#endif  // D88CUT_LISTER_LIST_IMAGE_H_
