// make_dump_pair OUTDIR
//
// Writes the two files scripts/bench-dumps.sh measures d88ls --fingerprint
// and d88cmp on: OUTDIR/a.d88, 64 disks of a formatted 2HD disk (77 x 2 x 8
// x 1,024 bytes, about 1.2 MiB each, each disk's sectors a pattern of its
// own), and OUTDIR/b.d88, the same but for one byte of one sector of the
// last disk. Deterministic, so runs compare.
#include <cstdio>
#include <string>
#include <vector>

#include "d88_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s OUTDIR\n", argc > 0 ? argv[0] : "make_dump_pair");
    return 2;
  }
  const std::string out = argv[1];
  constexpr int kDisks = 64;
  std::vector<d88build::Disk> disks;
  for (int k = 0; k < kDisks; ++k) disks.push_back(d88build::standardDisk(k));
  if (!d88build::writeFile(out + "/a.d88", d88build::build(disks).bytes)) {
    std::fprintf(stderr, "make_dump_pair: cannot write %s/a.d88\n", out.c_str());
    return 1;
  }
  // Track 100, the fourth record: sector R 4 of cylinder 50, head 0.
  disks.back().tracks[100][3].data[512] ^= 0x01;
  if (!d88build::writeFile(out + "/b.d88", d88build::build(disks).bytes)) {
    std::fprintf(stderr, "make_dump_pair: cannot write %s/b.d88\n", out.c_str());
    return 1;
  }
  return 0;
}
