#include "tests/app/run_program.h"

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace testing_support {

namespace {

// Closes a file descriptor it owns.
class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }
  void Reset(int fd = -1) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }

 private:
  int m_fd;
};

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&m_actions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&m_actions); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* Get() { return &m_actions; }

 private:
  posix_spawn_file_actions_t m_actions;
};

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  return {bytes.begin(), bytes.end()};
}

// Everything the program writes to the terminal, up to its last close of it.
std::string DrainTerminal(int master) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return text;  // EIO once no one holds the terminal's other side
    }
  }
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& workDir, StandardError err) {
  const TempDir capture;
  const std::string outPath = capture.File("stdout");
  const std::string errPath = capture.File("stderr");

  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(actions.Get(), STDOUT_FILENO, outPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Fd master;
  Fd slave;
  if (err == StandardError::kTerminal) {
    int masterFd = -1;
    int slaveFd = -1;
    if (::openpty(&masterFd, &slaveFd, nullptr, nullptr, nullptr) != 0) {
      throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    }
    master.Reset(masterFd);
    slave.Reset(slaveFd);
    posix_spawn_file_actions_adddup2(actions.Get(), slave.Get(), STDERR_FILENO);
  } else {
    posix_spawn_file_actions_addopen(actions.Get(), STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  posix_spawn_file_actions_addchdir_np(actions.Get(), workDir.c_str());

  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, program.c_str(), actions.Get(), nullptr, argv.data(), environ);
  if (spawned != 0) throw std::runtime_error(program + ": " + std::strerror(spawned));

  ProgramRun run;
  if (err == StandardError::kTerminal) {
    slave.Reset();  // so that reading ends when the program's side closes
    run.err = DrainTerminal(master.Get());
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = ReadText(outPath);
  if (err == StandardError::kFile) run.err = ReadText(errPath);
  return run;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace testing_support
