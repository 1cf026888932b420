#include "sector_order.h"

#include <algorithm>
#include <tuple>

namespace d88 {

bool identityLess(const SectorId& a, const SectorId& b) {
  return std::make_tuple(a.c, a.h, a.r, a.n) < std::make_tuple(b.c, b.h, b.r, b.n);
}

void orderByIdentity(const std::vector<SectorRecord>& records, std::vector<std::size_t>* order) {
  order->resize(records.size());
  for (std::size_t i = 0; i < order->size(); ++i) (*order)[i] = i;
  std::stable_sort(order->begin(), order->end(), [&records](std::size_t x, std::size_t y) {
    return identityLess(records[x].id, records[y].id);
  });
}

}  // namespace d88
