// How d88dir and d88get reach the files of a disk: the image opened as every
// program opens one, the disk chosen by --disk, and its file system found,
// or taken as --fs names it, with every failure said in the programs' words.
#ifndef D88CUT_FILETOOLS_DISK_FILES_H_
#define D88CUT_FILETOOLS_DISK_FILES_H_

#include <string>

#include <d88/filesystem.h>
#include <d88/image.h>

#include "open_image.h"
#include "program.h"

namespace d88 {

// The options both programs take.
OptionEntry diskOption();
OptionEntry fileSystemOption();

struct DiskFiles {
  Image image;
  FileSystem files;
  OpenOutcome opened;
  std::string imagePath;  // as given, UTF-8
  int disk = 0;
  // Why the disk's files could not be listed, as a JSON error document gives
  // it; empty when they could, or when the arguments were at fault.
  std::string failure;
};

// Reads --disk and --fs from `args`, opens the image `imageArgument`,
// selects the disk and finds its file system into *out. False after saying
// why on standard error ("PROGRAM: --disk ...", "Error: ...", and for a disk
// with no file system what each one expected), with out->failure set unless
// the arguments were at fault: the program then exits 1.
bool openDiskFiles(const char* program, const Arguments& args, const char* imageArgument,
                   bool withDeleted, DiskFiles* out);

}  // namespace d88

#endif  // D88CUT_FILETOOLS_DISK_FILES_H_
