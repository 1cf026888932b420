// The split of arbitrary bytes into files: when the input holds a disk, the
// files put back together are the input, byte for byte; when it holds none,
// there are no parts.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "split_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  d88::D88Image& opened = d88fuzz::openInput(data, size);
  d88::Image& image = opened.image();
  const std::vector<d88::DiskPart> parts = d88::diskParts(image);
  if (parts.empty()) {
    FUZZ_CHECK(size < static_cast<std::size_t>(d88::kDiskHeaderSize) ||
               opened.status().code() == d88::Status::Code::kNotD88Image);
    return 0;
  }
  FUZZ_CHECK(parts.front().offset == 0);
  // Odd disks are copied by the system where it can, even ones through the reader.
  d88::FileKind kind = d88::FileKind::kNothing;
  d88::FileIdentity input;
  FUZZ_CHECK(d88::lookUpFile(d88fuzz::kInputName, &kind, &input) == 0);
  const d88::CopySourceFile source(d88fuzz::kInputName, image.fileSize(), input);
  d88::SplitBuffer split;
  std::vector<std::uint8_t> joined;
  for (const d88::DiskPart& part : parts) {
    const std::string name = d88::partFileName("part", part.disk);
    const d88::PartResult result =
        d88::writePart(image, part, name.c_str(), &split, part.disk % 2 == 1 ? &source : nullptr);
    FUZZ_CHECK(result.readFailure.ok() && result.written.error == 0);
    std::FILE* f = std::fopen(name.c_str(), "rb");
    FUZZ_CHECK(f != nullptr);
    std::uint8_t buffer[4096];
    std::size_t n = 0;
    std::int64_t length = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
      joined.insert(joined.end(), buffer, buffer + n);
      length += static_cast<std::int64_t>(n);
    }
    std::fclose(f);
    std::remove(name.c_str());
    FUZZ_CHECK(length == result.bytes);
  }
  FUZZ_CHECK(joined.size() == size);
  FUZZ_CHECK(size == 0 || std::equal(joined.begin(), joined.end(), data));
  return 0;
}
