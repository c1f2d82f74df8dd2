// What every fault test checks afterwards, and the child processes the faults are staged in.
//
// A fault must never cost the user data: the recording stays byte for byte as it was, the
// output name holds nothing, the file that was there before, or a complete AVI with every
// sample of the recording, and no temporary file is left beside it. The helpers below check
// exactly that, as AssertionResults, so that a child process (one with a file-size limit, a
// private mount or fewer privileges) can make the same checks and send their outcome back.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "convert/vol_header.h"
#include "tests/app/run_program.h"
#include "tests/support/avi_reader.h"
#include "tests/support/temp_dir.h"
#include "tools/recording/recording_builder.h"

namespace faults {

namespace fs = std::filesystem;
using recording::Bytes;
using Samples = std::vector<testing_support::AviSample>;

// The samples a complete conversion writes for a recording whose reader delivers
// `deliveries`: the VOL header with the first I-frame at position 1 (the VOL header alone
// when there is no I-frame), then every later non-empty video record, key frame when it is an
// I-frame. Video records before the first I-frame and auxiliary records are not written.
Samples ExpectedSamples(const std::vector<recording::Delivery>& deliveries, const VolHeader& vol);

// The VOL header a conversion puts first for a recording with these header and trailer values.
VolHeader VolFor(uint16_t code = 5, uint32_t rate = 25, uint32_t width = 176,
                 uint32_t height = 144);

// `path` holds nothing, or `previous` (the file that was there before the run), or a valid AVI
// whose samples are exactly `expected`.
testing::AssertionResult NothingOrCompleteAvi(const std::string& path, const Samples& expected,
                                              const std::optional<Bytes>& previous = {});
// `path` is a valid AVI whose samples are exactly `expected`.
testing::AssertionResult CompleteAvi(const std::string& path, const Samples& expected);
// No `.<name>.XXXXXX.part` file is left in `folder`.
testing::AssertionResult NoTemporaries(const fs::path& folder);
// `path` holds exactly `bytes`.
testing::AssertionResult HoldsBytes(const std::string& path, const Bytes& bytes);

// The temporary files of `finalPath` beside it.
std::vector<std::string> TemporariesOf(const std::string& finalPath);

// Runs `body` in a forked child and returns what it returned. A child that throws, crashes or
// cannot report makes this throw std::runtime_error. The child ends with _exit, so nothing of
// the test process (gtest, atexit handlers) runs twice.
// With `maxRssKb`, also tells the most memory the child ever held.
nlohmann::json InChild(const std::function<nlohmann::json()>& body, long* maxRssKb = nullptr);

// An AssertionResult as a child reports it: {"what": ..., "ok": ..., "message": ...}.
nlohmann::json CheckReport(const std::string& what, const testing::AssertionResult& result);
// Adds a failure for every failed check of `report["checks"]`.
void ExpectChecksPassed(const nlohmann::json& report);

// The unprivileged user tests run as when they start as root, so that permissions apply.
inline constexpr uid_t kNobody = 65534;

// In a forked child: gives up root for kNobody (groups too). Returns an empty string when
// the process now runs unprivileged (or never was privileged), else why it could not.
std::string DropPrivileges();

// In a forked child: enters a private mount namespace and mounts a tmpfs of `bytes` bytes on
// the folder `at`. Returns an empty string on success, else why it could not.
std::string MountSmallTmpfs(const std::string& at, uint64_t bytes);

// Starts the built rawtoavi with `args` in `workDir`, standard output and error going to the
// files `outPath` and `errPath`, after running `prepare` in the child right before exec
// (limits, privileges); `prepare` returns an empty string, or why the child cannot go on (it
// then exits with status 125). Returns the child's process id.
pid_t StartCli(const std::vector<std::string>& args, const std::string& workDir,
               const std::string& outPath, const std::string& errPath,
               const std::function<std::string()>& prepare = {});
// Waits for the child `pid` to end and returns its wait status; with `maxRssKb`, also the
// most memory it ever held.
int WaitFor(pid_t pid, long* maxRssKb = nullptr);

// Runs rawtoavi as StartCli does and returns what it printed and its exit status.
testing_support::ProgramRun RunCli(const std::vector<std::string>& args, const std::string& workDir,
                                   const std::function<std::string()>& prepare = {});

}  // namespace faults
