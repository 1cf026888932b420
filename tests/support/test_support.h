// Scratch folders, file helpers and a runner for the built commands.
#ifndef D88CUT_TESTS_SUPPORT_TEST_SUPPORT_H_
#define D88CUT_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "d88_builder.h"

namespace d88test {

using d88build::Bytes;

// How a line of the commands' messages ends: their standard streams are text
// streams, which end lines with CR LF on Windows.
#ifdef _WIN32
constexpr const char kNewline[] = "\r\n";
#else
constexpr const char kNewline[] = "\n";
#endif

// Paths here are UTF-8 strings, on Windows too.

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const;
  // Writes bytes to file(name) and returns its path.
  std::string write(const std::string& name, const Bytes& bytes) const;

 private:
  std::string path_;
};

// Contents of a file; empty when it cannot be read.
Bytes readFile(const std::string& path);
// Names in a folder, sorted.
std::vector<std::string> listDir(const std::string& path);

struct RunResult {
  int status = -1;  // exit status, or -1 when the process did not exit normally
  int signal = 0;   // the signal that ended it, if any
  std::string out;
  std::string err;
};

struct RunOptions {
  RunOptions(std::string folder = "", long long limit = -1)  // NOLINT: {cwd, limit} reads well
      : cwd(std::move(folder)), fileSizeLimit(limit) {}

  std::string cwd;
  // When >= 0: RLIMIT_FSIZE for the child, SIGXFSZ at its default (not on Windows).
  long long fileSizeLimit = -1;
  // Not on Windows: standard input from this file when set, else from a
  // pipe fed with stdinBytes when those are set (a stream with no size).
  std::string stdinFile;
  Bytes stdinBytes;
  // Not on Windows: when the tests run as root, the program runs as the
  // user nobody, so that permissions hold for it as for an ordinary user.
  bool asOrdinaryUser = false;
};

// Not on Windows: standard output sent to `file` instead of being kept
// (RunResult::out is then empty), or, with `closedPipe`, to a pipe whose
// reading end is closed before the program starts, or, with
// `closedAfterFirstLine`, once its first line has been read (as `head -1`
// does; RunResult::out then holds that line). SIGPIPE is left at its default.
struct StdoutElsewhere {
  std::string file;
  bool closedPipe = false;
  bool closedAfterFirstLine = false;
};

// A started process, its output kept in files until finish().
struct Process {
#ifdef _WIN32
  void* handle = nullptr;
#else
  int pid = -1;
  int feeder = -1;  // the process that feeds standard input, if any
#endif
  std::string outPath;
  // With StdoutElsewhere::closedAfterFirstLine: the output is this line.
  bool outIsFirstLine = false;
  std::string firstLine;
  std::string errPath;
  std::shared_ptr<TempDir> capture;
};

// Starts `argv` (argv[0] is the program path and its argv[0]) in options.cwd.
Process start(const std::vector<std::string>& argv, const RunOptions& options,
              const StdoutElsewhere& stdoutTo = StdoutElsewhere());
// Waits for a started process to end and gives what it did.
RunResult finish(Process& process);
// start() then finish().
RunResult run(const std::vector<std::string>& argv, const RunOptions& options,
              const StdoutElsewhere& stdoutTo = StdoutElsewhere());

// Splits text into its lines, without the newlines (LF or CR LF).
std::vector<std::string> lines(const std::string& text);

}  // namespace d88test

#endif  // D88CUT_TESTS_SUPPORT_TEST_SUPPORT_H_
