// The format's value helpers: what a status byte means, when a record can
// be trusted, which sector follows another in a run.
#include <d88/format.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "d88_layout.h"

namespace d88 {
namespace {

// r + 1 and the like without signed overflow, whatever a caller passed in.
std::int32_t plusOne(std::int32_t v) {
  return v == INT32_MAX ? INT32_MIN : v + 1;
}

}  // namespace

bool trackEntryInDisk(std::uint32_t entry, std::uint32_t diskSize) {
  return entry != 0 && entry <= diskSize;
}

std::string hexByte(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
  return text;
}

std::string sectorAddressText(const SectorAddress& a) {
  char text[96];
  std::snprintf(text, sizeof text, "track %d (C %d, H %d, R %d, N %d)", static_cast<int>(a.track),
                static_cast<int>(a.c), static_cast<int>(a.h), static_cast<int>(a.r),
                static_cast<int>(a.n));
  return text;
}

bool isKnownMedia(std::uint8_t media) {
  switch (media) {
    case kMedia2D:
    case kMedia2DD:
    case kMedia2HD:
    case kMedia1D:
    case kMedia1DD:
      return true;
    default:
      return false;
  }
}

bool isMarkedBad(std::uint8_t status) {
  return status != kStatusNormal && status != kStatusDeletedData;
}

bool isDeletedData(const SectorRecord& record) {
  return record.status == kStatusDeletedData || record.deletedMark == kDeletedDataMark;
}

std::int32_t sectorBytes(int n) {
  return n >= 0 && n <= kMaxSizeCode ? std::int32_t{128} << n : 0;
}

bool isSoundRecord(const SectorRecord& record) {
  const std::int32_t nominal = sectorBytes(record.id.n);
  return nominal > 0 && record.dataAvailable >= nominal && !isMarkedBad(record.status);
}

bool sameIdentity(const SectorId& a, const SectorId& b) {
  return a.c == b.c && a.h == b.h && a.r == b.r && a.n == b.n;
}

Status shortRecordStatus(const SectorRecord& record, std::int32_t wanted) {
  if (record.dataSize < wanted) {
    return Status::corruption("the sector holds " + std::to_string(record.dataSize) + " of " +
                              std::to_string(wanted) + " bytes");
  }
  return Status::corruption("the sector's data is cut off by the end of the disk");
}

std::uint32_t identityKey(const SectorId& id) {
  return static_cast<std::uint32_t>(id.c) << 24 | static_cast<std::uint32_t>(id.h) << 16 |
         static_cast<std::uint32_t>(id.r) << 8 | id.n;
}

bool identityBefore(const SectorId& a, const SectorId& b) {
  return identityKey(a) < identityKey(b);
}

void orderByIdentity(const std::vector<SectorRecord>& records, std::vector<std::size_t>* order) {
  order->resize(records.size());
  for (std::size_t i = 0; i < order->size(); ++i) (*order)[i] = i;
  std::stable_sort(order->begin(), order->end(), [&records](std::size_t x, std::size_t y) {
    return identityBefore(records[x].id, records[y].id);
  });
}

std::string statusMeaning(std::uint8_t status) {
  switch (status) {
    case kStatusNormal:
      return "normal";
    case kStatusDeletedData:
      return "deleted data";
    case kStatusIdCrcError:
      return "ID CRC error";
    case kStatusDataCrcError:
      return "data CRC error";
    case kStatusNoAddressMark:
      return "no address mark";
    case kStatusNoDataMark:
      return "no data mark";
    default:
      return "unknown status " + hexByte(status);
  }
}

SectorAddress followingSector(const SectorAddress& at, const SectorRange& range) {
  SectorAddress next = at;
  if (at.r == range.last) {
    next.track = plusOne(at.track);
    if (at.h == 0) {
      next.h = 1;
    } else {
      next.h = 0;
      next.c = plusOne(at.c);
    }
    next.r = range.first;
  } else {
    next.r = plusOne(at.r);
  }
  return next;
}

}  // namespace d88
