// The File objects the factories open: the system's file (or standard
// input), and bytes in the caller's memory. Private to the reader.
#ifndef D88CUT_IMAGE_FILE_SOURCES_H_
#define D88CUT_IMAGE_FILE_SOURCES_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include <d88/file.h>
#include <d88/status.h>

namespace d88 {

// Opens `path` (UTF-8; "-" is standard input) for reading into *file; an
// ioError with the system's reason when it cannot be opened.
Status openSystemFile(const char* path, std::unique_ptr<File>* file);

// The `size` bytes at `data`, which the caller keeps for the File's life.
std::unique_ptr<File> memoryFile(const std::uint8_t* data, std::size_t size);

}  // namespace d88

#endif  // D88CUT_IMAGE_FILE_SOURCES_H_
