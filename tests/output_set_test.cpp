// The check of all the outputs of a run before any is written: an output
// that is an input, another output, or no file is refused, by whatever name
// it is reached.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "output_set.h"
#include "system_file.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using d88build::Bytes;
using d88test::TempDir;

TEST(OutputSet, RefusesAnOutputThatIsAnInputAnotherOutputOrNoFile) {
  struct Case {
    const char* what;
    void (*prepare)(const std::string& dir);  // beside the input "img"
    std::vector<std::string> outputs;         // in dir; "" stands for dir itself
    d88::OutputProblem problem;
    std::size_t output;  // the output refused
    const char* reason;
  };
  namespace fs = std::filesystem;
  const Case cases[] = {
      {"new names and an old file", [](const std::string& dir) { d88build::writeFile(dir + "/B", Bytes(1, 1)); },
       {"A", "B"}, d88::OutputProblem::kNone, 0, ""},
      {"the input by its name", nullptr, {"A", "img"}, d88::OutputProblem::kIsInput, 1,
       "it is the image"},
      {"the input through ./", nullptr, {"./img"}, d88::OutputProblem::kIsInput, 0, "it is the image"},
      {"the input through a hard link",
       [](const std::string& dir) { fs::create_hard_link(dir + "/img", dir + "/L"); }, {"L"},
       d88::OutputProblem::kIsInput, 0, "it is the image"},
      {"one new name twice", nullptr, {"x", "./x"}, d88::OutputProblem::kIsOutput, 1, "it is also "},
      {"one new name twice in a folder still missing", nullptr, {"new/x", "new/x"},
       d88::OutputProblem::kIsOutput, 1, "it is also "},
      {"two links to one old file",
       [](const std::string& dir) {
         d88build::writeFile(dir + "/P", Bytes(1, 1));
         fs::create_hard_link(dir + "/P", dir + "/Q");
       },
       {"P", "Q"}, d88::OutputProblem::kIsOutput, 1, "it is also "},
      {"a folder", [](const std::string& dir) { fs::create_directory(dir + "/D"); }, {"A", "D"},
       d88::OutputProblem::kNotAFile, 1, "it is a folder"},
#ifndef _WIN32
      {"the input through a symbolic link",
       [](const std::string& dir) { fs::create_symlink("img", dir + "/S"); }, {"S"},
       d88::OutputProblem::kIsInput, 0, "it is the image"},
      {"a FIFO", [](const std::string& dir) { ASSERT_EQ(mkfifo((dir + "/F").c_str(), 0600), 0); },
       {"F"}, d88::OutputProblem::kNotAFile, 0, "it is a FIFO (named pipe)"},
      {"a device, reached through a link",
       [](const std::string& dir) { fs::create_symlink("/dev/null", dir + "/N"); }, {"N"},
       d88::OutputProblem::kNotAFile, 0, "it is a device"},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    d88build::writeFile(dir.file("img"), Bytes(10, 5));
    if (c.prepare != nullptr) c.prepare(dir.path());
    d88::SystemFile input;
    ASSERT_EQ(input.open(dir.file("img").c_str()), 0);
    d88::OutputSet set;
    set.addInput(input.identity(), "the image");
    for (const std::string& name : c.outputs) set.addOutput(dir.file(name));
    const d88::OutputCheck check = set.check();
    EXPECT_EQ(check.problem, c.problem) << check.reason;
    if (c.problem == d88::OutputProblem::kNone) continue;
    EXPECT_EQ(check.output, c.output);
    EXPECT_EQ(check.reason.rfind(c.reason, 0), 0u) << check.reason;
  }
}

// An input whose identity is unknown (a caller's own File) is no reason to
// refuse anything.
TEST(OutputSet, AnInputOfUnknownIdentityRefusesNothing) {
  TempDir dir;
  d88build::writeFile(dir.file("A"), Bytes(1, 1));
  d88::OutputSet set;
  set.addInput(d88::FileIdentity(), "the image");
  set.addOutput(dir.file("A"));
  EXPECT_TRUE(set.check().ok());
}

}  // namespace
