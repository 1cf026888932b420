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

// Selects disk `disk` of the open `image` (it stays selected) and writes its
// content fingerprint to *digest, built from SHA-256 digests in three steps
// (changed in 3.1.0: fingerprints of 3.0.0 and before differ):
//   - each record's data: the SHA-256 of the bytes the disk holds for it
//     (dataAvailable; an empty record's is the SHA-256 of nothing);
//   - each track t from 0 to 163 whose walk gives records: the SHA-256 over
//     its records ordered by identity (C, H, R, N), records of one identity
//     in record order, each as C, H, R, N, density, deleted mark, status (one
//     byte each), the bytes the disk holds (4 bytes, little-endian) and the
//     32-byte digest of its data;
//   - the disk: the SHA-256 over each such track in track order, as its
//     number 2 x C + H (diskLayout: t itself but on a one-sided disk kept
//     in every slot, where it is 2 x t; 2 bytes, little-endian), its record
//     count (4 bytes) and its digest.
// A record that several walks reach is read and hashed once, and a track
// whose table entry shares an earlier one's place (sameRecordsAs) takes that
// track's digest, so the bytes hashed stay within the file's size whatever
// the table claims. Each record's data is hashed as soon as it is read, one
// record at a time, on the calling thread.
// A failure (no such disk, a read that failed, the system's hashing) is
// returned with its reason, and *digest is then left as it was.
Status contentSha256(Image& image, int disk, Sha256Digest* digest);

// The digest as 64 lowercase hex digits.
std::string hexDigest(const Sha256Digest& digest);

}  // namespace d88

#endif  // D88CUT_FINGERPRINT_CONTENT_FINGERPRINT_H_
