#include "test_support.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <grp.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace d88test {

TempDir::TempDir() {
  static std::mt19937_64 random(std::random_device{}());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = fs::temp_directory_path() / ("d88test-" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.u8string();
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Folders made read-only by a test are opened up again so they can go.
  fs::permissions(fs::u8path(path_), fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(fs::u8path(path_), ignored);
}

std::string TempDir::file(const std::string& name) const {
  return (fs::u8path(path_) / fs::u8path(name)).u8string();
}

std::string TempDir::write(const std::string& name, const Bytes& bytes) const {
  const std::string path = file(name);
  if (!d88build::writeFile(path, bytes)) throw std::runtime_error("cannot write " + path);
  return path;
}

Bytes readFile(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> listDir(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::u8path(path))) {
    names.push_back(entry.path().filename().u8string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

std::string contents(const std::string& path) {
  const Bytes bytes = readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

#ifdef _WIN32
// One argument quoted as the C runtime's command-line parser expects.
std::string quoted(const std::string& arg) {
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char ch : arg) {
    if (ch == '\\') {
      ++backslashes;
      continue;
    }
    out.append(ch == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += ch;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

HANDLE inheritableFile(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(fs::u8path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}
#endif

}  // namespace

Process start(const std::vector<std::string>& argv, const RunOptions& options,
              const StdoutElsewhere& stdoutTo) {
  Process process;
  process.capture = std::make_shared<TempDir>();
  process.outPath = process.capture->file("stdout");
  process.errPath = process.capture->file("stderr");
#ifdef _WIN32
  // Arguments and folder are UTF-8; the wide call passes any name through.
  std::string commandLine;
  for (const std::string& a : argv) commandLine += (commandLine.empty() ? "" : " ") + quoted(a);
  (void)stdoutTo;
  std::wstring wideCommandLine = fs::u8path(commandLine).wstring();
  const std::wstring program = fs::u8path(argv[0]).wstring();
  const std::wstring cwd = fs::u8path(options.cwd).wstring();
  HANDLE out = inheritableFile(process.outPath);
  HANDLE err = inheritableFile(process.errPath);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION info{};
  BOOL started = FALSE;
  DWORD error = 0;
  // Wine now and then fails to start a process when many come in a row.
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    if (attempt > 0) Sleep(200);
    started = CreateProcessW(program.c_str(), wideCommandLine.data(), nullptr, nullptr, TRUE, 0,
                             nullptr, cwd.empty() ? nullptr : cwd.c_str(), &startup, &info);
    if (!started) error = GetLastError();
  }
  CloseHandle(out);
  CloseHandle(err);
  if (!started) {
    throw std::runtime_error("cannot start " + argv[0] + ": error " + std::to_string(error));
  }
  CloseHandle(info.hThread);
  process.handle = info.hProcess;
#else
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  int outPipe[2] = {-1, -1};
  const bool piped = stdoutTo.closedPipe || stdoutTo.closedAfterFirstLine;
  if (piped) {
    if (pipe(outPipe) != 0) throw std::runtime_error("pipe failed");
    if (stdoutTo.closedPipe) {
      close(outPipe[0]);
      outPipe[0] = -1;
    }
  }
  // A stream on standard input: a pipe fed by a process of its own, so that
  // any amount goes through while the program reads.
  int inPipe[2] = {-1, -1};
  const bool feed = options.stdinFile.empty() && !options.stdinBytes.empty();
  if (feed) {
    if (pipe(inPipe) != 0) throw std::runtime_error("pipe failed");
    const pid_t feeder = fork();
    if (feeder < 0) throw std::runtime_error("fork failed");
    if (feeder == 0) {
      close(inPipe[0]);
      signal(SIGPIPE, SIG_DFL);
      std::size_t done = 0;
      while (done < options.stdinBytes.size()) {
        const ssize_t n = write(inPipe[1], options.stdinBytes.data() + done,
                                options.stdinBytes.size() - done);
        if (n <= 0) _exit(0);
        done += static_cast<std::size_t>(n);
      }
      _exit(0);
    }
    close(inPipe[1]);
    inPipe[1] = -1;
    process.feeder = feeder;
  }
  const std::string outTarget = stdoutTo.file.empty() ? process.outPath : stdoutTo.file;
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int out = piped ? outPipe[1]
                          : ::open(outTarget.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(process.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    if (outPipe[0] >= 0) close(outPipe[0]);
    if (!options.stdinFile.empty()) {
      const int in = ::open(options.stdinFile.c_str(), O_RDONLY);
      if (in < 0 || dup2(in, 0) < 0) _exit(126);
    } else if (feed) {
      if (dup2(inPipe[0], 0) < 0) _exit(126);
      close(inPipe[0]);
    }
    if (options.asOrdinaryUser && geteuid() == 0) {
      constexpr uid_t kNobody = 65534;
      if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(126);
    }
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    // The commands start as from an interactive shell, even where this test
    // runs as a background job that ignores interrupts.
    for (int interrupt : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(interrupt, SIG_DFL);
    if (options.fileSizeLimit >= 0) {
      // SIGXFSZ stays as a shell leaves it: the program must not die of it.
      signal(SIGXFSZ, SIG_DFL);
      const rlimit limit{static_cast<rlim_t>(options.fileSizeLimit),
                         static_cast<rlim_t>(options.fileSizeLimit)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    execv(args[0], args.data());
    _exit(127);
  }
  if (feed) close(inPipe[0]);
  if (piped) close(outPipe[1]);
  if (stdoutTo.closedAfterFirstLine) {
    // Read up to the first newline, keep it as the output, then go away.
    std::string firstLine;
    char ch = 0;
    while (read(outPipe[0], &ch, 1) == 1) {
      firstLine += ch;
      if (ch == '\n') break;
    }
    close(outPipe[0]);
    process.firstLine = firstLine;
    process.outIsFirstLine = true;
  }
  process.pid = pid;
#endif
  return process;
}

RunResult finish(Process& process) {
  RunResult result;
#ifdef _WIN32
  WaitForSingleObject(process.handle, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.handle, &code);
  CloseHandle(process.handle);
  process.handle = nullptr;
  // Windows has no signals; a crash shows as an NTSTATUS exception code.
  if (code >= 0xC0000000u) {
    result.signal = static_cast<int>(code & 0xFFFF);
  } else {
    result.status = static_cast<int>(code);
  }
#else
  int wstatus = 0;
  while (waitpid(process.pid, &wstatus, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  process.pid = -1;
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) result.signal = WTERMSIG(wstatus);
  if (process.feeder >= 0) {
    // The program may have stopped reading early: the feeder then ends on
    // its broken pipe.
    int fed = 0;
    while (waitpid(process.feeder, &fed, 0) < 0 && errno == EINTR) {
    }
    process.feeder = -1;
  }
#endif
  result.out = process.outIsFirstLine ? process.firstLine : contents(process.outPath);
  result.err = contents(process.errPath);
  return result;
}

RunResult run(const std::vector<std::string>& argv, const RunOptions& options,
              const StdoutElsewhere& stdoutTo) {
  Process process = start(argv, options, stdoutTo);
  return finish(process);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::size_t stop = end;
    if (stop > start && text[stop - 1] == '\r') --stop;
    result.push_back(text.substr(start, stop - start));
    start = end + 1;
  }
  return result;
}

}  // namespace d88test
