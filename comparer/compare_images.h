// d88cmp's work: two image files opened, compared disk by disk, and the
// report written as text lines or as one JSON document.
#ifndef D88CUT_COMPARER_COMPARE_IMAGES_H_
#define D88CUT_COMPARER_COMPARE_IMAGES_H_

#include <string>

#include "text_format.h"

namespace d88 {

// What a comparison ends with, as cmp has it.
constexpr int kCompareSame = 0;     // every disk of both files has the same content
constexpr int kCompareDiffer = 1;   // a sector or a disk differs
constexpr int kCompareTrouble = 2;  // a file could not be opened or read, or output failed

// Compares the images at pathA and pathB (UTF-8; "-" is standard input, for
// at most one of them) and gives the report to `sink` in pieces of at most
// about 64 KiB: per disk a line per sector that is not the same, its notes
// and its summary; or with `json` one JSON document. With a null sink
// nothing is formatted and the comparison stops at the first difference.
// Returns kCompareSame, kCompareDiffer or kCompareTrouble; for trouble other
// than a sink that refused, *error says what failed ("cannot read B.d88:
// Input/output error"), and a JSON report ends with it.
int compareImages(const char* pathA, const char* pathB, bool json, const ListingSink* sink,
                  std::string* error);

}  // namespace d88

#endif  // D88CUT_COMPARER_COMPARE_IMAGES_H_
