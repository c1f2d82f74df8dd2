#include "tests/faults/fault_support.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <sstream>
#include <stdexcept>

#include "reader/mp4file.h"
#include "tests/support/temp_dir.h"

namespace faults {

namespace {

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Writes all of `text` to `fd`; a child has nobody to tell when this fails.
void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return text;
    text.append(buffer, static_cast<size_t>(n));
  }
}

std::string Describe(int status) {
  if (WIFEXITED(status)) return "exited with " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "ended with status " + std::to_string(status);
}

std::string Preview(const Samples& samples, size_t i) {
  if (i >= samples.size()) return "none";
  std::ostringstream out;
  out << "pos " << samples[i].position << ", " << samples[i].bytes.size() << " bytes, "
      << (samples[i].keyFrame ? "key" : "delta");
  return out.str();
}

}  // namespace

Samples ExpectedSamples(const std::vector<recording::Delivery>& deliveries, const VolHeader& vol) {
  Samples samples;
  uint64_t position = 1;
  bool seenI = false;
  for (const recording::Delivery& d : deliveries) {
    if (d.dataType == MP4_DATA_UD_AUX) continue;
    if (!seenI) {
      if (!d.iframe) continue;
      seenI = true;
      Bytes first(vol.begin(), vol.end());
      first.insert(first.end(), d.bytes.begin(), d.bytes.end());
      samples.push_back({position++, std::move(first), true});
      continue;
    }
    if (d.bytes.empty()) continue;
    samples.push_back({position++, d.bytes, d.iframe});
  }
  if (!seenI) samples.push_back({1, Bytes(vol.begin(), vol.end()), false});
  return samples;
}

VolHeader VolFor(uint16_t code, uint32_t rate, uint32_t width, uint32_t height) {
  const std::optional<VolHeader> vol = VolHeaderForRecording(code, rate, width, height);
  if (!vol) throw std::invalid_argument("no VOL header for these values");
  return *vol;
}

testing::AssertionResult CompleteAvi(const std::string& path, const Samples& expected) {
  testing_support::AviFile avi;
  try {
    avi = testing_support::ReadAviFile(path);
  } catch (const std::exception& e) {
    return testing::AssertionFailure() << path << " holds no valid AVI: " << e.what();
  }
  if (avi.samples == expected) return testing::AssertionSuccess();
  size_t i = 0;
  while (i < avi.samples.size() && i < expected.size() && avi.samples[i] == expected[i]) ++i;
  return testing::AssertionFailure()
         << path << " holds " << avi.samples.size() << " samples where " << expected.size()
         << " were expected; the first difference is sample " << i << ": "
         << Preview(avi.samples, i) << " instead of " << Preview(expected, i);
}

testing::AssertionResult NothingOrCompleteAvi(const std::string& path, const Samples& expected,
                                              const std::optional<Bytes>& previous) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(path, ec))) return testing::AssertionSuccess();
  if (previous && testing_support::ReadFileBytes(path) == *previous) {
    return testing::AssertionSuccess();
  }
  return CompleteAvi(path, expected);
}

testing::AssertionResult NoTemporaries(const fs::path& folder) {
  std::vector<std::string> left;
  for (const std::string& name : testing_support::FileNames(folder)) {
    if (name.starts_with('.') && name.ends_with(".part")) left.push_back(name);
  }
  if (left.empty()) return testing::AssertionSuccess();
  testing::AssertionResult failure = testing::AssertionFailure();
  failure << "temporary files left in " << folder.string() << ":";
  for (const std::string& name : left) failure << ' ' << name;
  return failure;
}

testing::AssertionResult HoldsBytes(const std::string& path, const Bytes& bytes) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return testing::AssertionFailure() << path << " is gone";
  const Bytes now = testing_support::ReadFileBytes(path);
  if (now == bytes) return testing::AssertionSuccess();
  const auto diff = std::mismatch(now.begin(), now.end(), bytes.begin(), bytes.end());
  return testing::AssertionFailure()
         << path << " changed: " << now.size() << " bytes instead of " << bytes.size()
         << ", first difference at byte " << (diff.first - now.begin());
}

std::vector<std::string> TemporariesOf(const std::string& finalPath) {
  const fs::path final(finalPath);
  const std::string prefix = "." + final.filename().string() + ".";
  std::vector<std::string> found;
  for (const std::string& name : testing_support::FileNames(final.parent_path())) {
    if (name.starts_with(prefix) && name.ends_with(".part")) found.push_back(name);
  }
  return found;
}

nlohmann::json InChild(const std::function<nlohmann::json()>& body, long* maxRssKb) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(Errno("pipe"));
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error(Errno("fork"));
  if (pid == 0) {
    ::close(fds[0]);
    nlohmann::json report;
    try {
      report = {{"value", body()}};
    } catch (const std::exception& e) {
      report = {{"error", e.what()}};
    }
    WriteAll(fds[1], report.dump());
    ::_exit(0);
  }
  ::close(fds[1]);
  const std::string text = ReadAll(fds[0]);
  ::close(fds[0]);
  const int status = WaitFor(pid, maxRssKb);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty()) {
    throw std::runtime_error("the child " + Describe(status) + " without a report");
  }
  const nlohmann::json report = nlohmann::json::parse(text);
  if (report.contains("error")) {
    throw std::runtime_error("the child failed: " + report["error"].get<std::string>());
  }
  return report["value"];
}

nlohmann::json CheckReport(const std::string& what, const testing::AssertionResult& result) {
  return {{"what", what}, {"ok", static_cast<bool>(result)}, {"message", result.message()}};
}

void ExpectChecksPassed(const nlohmann::json& report) {
  ASSERT_TRUE(report.contains("checks")) << report.dump();
  for (const nlohmann::json& check : report["checks"]) {
    EXPECT_TRUE(check["ok"].get<bool>())
        << check["what"].get<std::string>() << ": " << check["message"].get<std::string>();
  }
}

std::string DropPrivileges() {
  if (::geteuid() != 0) return {};
  if (::setgroups(0, nullptr) != 0) return Errno("setgroups");
  if (::setresgid(kNobody, kNobody, kNobody) != 0) return Errno("setresgid");
  if (::setresuid(kNobody, kNobody, kNobody) != 0) return Errno("setresuid");
  if (::geteuid() != kNobody) return "still privileged after setresuid";
  return {};
}

std::string MountSmallTmpfs(const std::string& at, uint64_t bytes) {
  if (::unshare(CLONE_NEWNS) != 0) return Errno("unshare(CLONE_NEWNS)");
  // Without this the mount could propagate back into the namespace the tests run in.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return Errno("making the mounts private");
  }
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  if (::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
    return Errno("mount -t tmpfs");
  }
  return {};
}

int WaitFor(pid_t pid, long* maxRssKb) {
  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (maxRssKb) *maxRssKb = usage.ru_maxrss;
  return status;
}

pid_t StartCli(const std::vector<std::string>& args, const std::string& workDir,
               const std::string& outPath, const std::string& errPath,
               const std::function<std::string()>& prepare) {
  std::vector<char*> argv{const_cast<char*>(RAWTOAVI_CLI)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error(Errno("fork"));
  if (pid > 0) return pid;
  const int in = ::open("/dev/null", O_RDONLY);
  const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (in < 0 || out < 0 || err < 0 || ::dup2(in, STDIN_FILENO) < 0 ||
      ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0 ||
      ::chdir(workDir.c_str()) != 0) {
    ::_exit(126);
  }
  if (prepare) {
    const std::string why = prepare();
    if (!why.empty()) {
      WriteAll(STDERR_FILENO, why);
      ::_exit(125);
    }
  }
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

testing_support::ProgramRun RunCli(const std::vector<std::string>& args, const std::string& workDir,
                                   const std::function<std::string()>& prepare) {
  const testing_support::TempDir capture;
  const std::string outPath = capture.File("stdout");
  const std::string errPath = capture.File("stderr");
  const int status = WaitFor(StartCli(args, workDir, outPath, errPath, prepare));
  testing_support::ProgramRun run;
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  const Bytes out = testing_support::ReadFileBytes(outPath);
  const Bytes err = testing_support::ReadFileBytes(errPath);
  run.out.assign(out.begin(), out.end());
  run.err.assign(err.begin(), err.end());
  return run;
}

}  // namespace faults
