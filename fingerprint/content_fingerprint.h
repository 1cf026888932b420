// The content fingerprint of a disk: a SHA-256 over what its sectors hold,
// and nothing of how the file stores them. Two dumps of one disk that differ
// only in the disk's name, write-protect flag, media byte, track table,
// record order within a track, padding or trailing bytes get the same one.
#ifndef D88CUT_FINGERPRINT_CONTENT_FINGERPRINT_H_
#define D88CUT_FINGERPRINT_CONTENT_FINGERPRINT_H_

#include <string>

#include <d88/image.h>
#include <d88/status.h>

#include "sha256.h"

namespace d88 {

// Selects disk `disk` of the open `image` (it stays selected) and writes the
// SHA-256 of this stream to *digest: for each track t from 0 to 163 whose
// walk gives records, t (2 bytes, little-endian) and its record count (4
// bytes); then its records ordered by identity (C, H, R, N), records of one
// identity in record order, each as C, H, R, N, density, deleted mark,
// status, the bytes the disk holds (dataAvailable, 4 bytes) and those bytes.
// Reads one record at a time. A failure (no such disk, a read that failed,
// the system's hashing) is returned with its reason, and *digest is then
// left as it was.
Status contentSha256(Image& image, int disk, Sha256Digest* digest);

// The digest as 64 lowercase hex digits.
std::string hexDigest(const Sha256Digest& digest);

}  // namespace d88

#endif  // D88CUT_FINGERPRINT_CONTENT_FINGERPRINT_H_
