// d88cmp: whether two D88 images hold the same disks, and where they differ.
//   d88cmp [--json] [-s] [--] A B
// Exit status as cmp has it: 0 same, 1 different, 2 trouble.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "compare_images.h"
#include "console.h"
#include "program.h"

namespace {

// The command line: options may stand anywhere before "--"; "-" alone is an
// image (standard input). Exactly two images, else the usage; trouble (2) for
// anything refused, as cmp has it.
d88::ProgramDefinition programDefinition() {
  d88::ProgramDefinition definition;
  definition.name = "d88cmp";
  definition.version = D88_VERSION;
  definition.options = {
      d88::flagOption('\0', "json", "one JSON document with every difference and the summaries"),
      d88::flagOption('s', "quiet", "print nothing; the exit status tells").alsoNamed("silent"),
  };
  definition.usageForms = {"A B"};
  definition.description =
      "Compares two D88 floppy-disk images disk by disk and sector by sector: disk k\n"
      "of A with disk k of B, each sector by its track and identity (C, H, R, N).\n"
      "Prints a line for each sector that is not the same (differs, only in A, only\n"
      "in B, better in A, better in B, bad in both) and a summary line per disk.\n"
      "The disks' names, media bytes, write protection and record order are noted\n"
      "but do not make the images differ. An image named - is standard input.\n";
  definition.endOfOptionsHelp = "end of options: no argument after it is taken for an option";
  definition.epilogue =
      "Exit status: 0 when every disk has the same content, 1 when any differs,\n"
      "2 on trouble (a file cannot be opened or read, usage). See d88cmp(1).\n";
  definition.helpColumn = 17;
  definition.shortUsage = {"[--json] [-s] A B"};
  definition.minOperands = 2;
  definition.maxOperands = 2;
  definition.errorStatus = d88::kCompareTrouble;
  definition.writeFailurePrefix = "d88cmp: cannot write to standard output";
  // Memory that runs out is trouble (2), never "the images differ" (1).
  definition.outOfMemory = "d88cmp: out of memory";
  return definition;
}

// Writes text to standard output; false, after a line on standard error, when it fails.
bool writeOut(const std::string& text) {
  d88::writeText(stdout, text);
  if (const int error = d88::flushStandardOutput()) {
    d88::print(stderr, "d88cmp: cannot write to standard output: %s\n", std::strerror(error));
    return false;
  }
  return true;
}

}  // namespace

static int compare(const d88::Arguments& args) {
  const std::vector<const char*>& images = args.operands();
  const bool json = args.has("json");
  const bool silent = args.has("quiet");
  if (std::strcmp(images[0], "-") == 0 && std::strcmp(images[1], "-") == 0) {
    d88::print(stderr, "d88cmp: standard input (-) can be only one of the two images\n");
    return d88::kCompareTrouble;
  }
  std::string pathA;
  std::string pathB;
  if (!d88::expandToOneImage("d88cmp", images[0], &pathA) ||
      !d88::expandToOneImage("d88cmp", images[1], &pathB)) {
    return d88::kCompareTrouble;
  }
  const d88::ListingSink toStandardOutput = [](const std::string& piece) {
    return writeOut(piece);
  };
  std::string error;
  const int status = d88::compareImages(pathA.c_str(), pathB.c_str(), json && !silent,
                                        silent ? nullptr : &toStandardOutput, &error);
  if (!error.empty()) d88::print(stderr, "d88cmp: %s\n", error.c_str());
  return status;
}

int main(int argc, char** argv) {
  return d88::runProgram(programDefinition(), argc, argv, compare);
}
