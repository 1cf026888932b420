// The one order of a track's records by identity (C, H, R, N): the content
// fingerprint hashes records in it, and the comparison pairs them in it.
// Its natural home is the reader's public header, beside sameIdentity().
#ifndef D88CUT_SECTOR_ORDER_SECTOR_ORDER_H_
#define D88CUT_SECTOR_ORDER_SECTOR_ORDER_H_

#include <cstddef>
#include <vector>

#include <d88/d88_image.h>

namespace d88 {

// True when `a` comes before `b`: by C, then H, then R, then N.
bool identityLess(const SectorId& a, const SectorId& b);

// Sets *order to the positions of `records` ordered by identity; records of
// one identity keep their record order, so that twins pair up in that order.
void orderByIdentity(const std::vector<SectorRecord>& records, std::vector<std::size_t>* order);

}  // namespace d88

#endif  // D88CUT_SECTOR_ORDER_SECTOR_ORDER_H_
