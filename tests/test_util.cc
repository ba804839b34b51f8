#include "test_util.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

extern char** environ;

namespace testutil {

namespace fs = std::filesystem;

std::string Fixture(const std::string& relative) {
  return std::string(AFC_FIXTURES_DIR) + "/" + relative;
}

std::vector<std::string> FixtureFiles(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  // A missing folder lists nothing; TestDataCheck below fails every test
  // with the reason instead of the program failing before it runs any.
  for (const auto& e : fs::directory_iterator(Fixture(folder), ec)) {
    if (e.path().extension() == ".mdb") out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

TempDir::TempDir() {
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path p = fs::temp_directory_path() / ("afc-test-" + std::to_string(rd()));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p.string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void CopyFile(const std::string& from, const std::string& to) {
  WriteFile(to, ReadFile(from));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& stdin_data) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) || pipe(out_pipe) || pipe(err_pipe)) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
    posix_spawn_file_actions_addclose(&actions, fd);
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (rc != 0) {
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    throw std::runtime_error("cannot start " + argv[0]);
  }
  // Feed stdin and drain both outputs without deadlocking.
  signal(SIGPIPE, SIG_IGN);
  size_t written = 0;
  if (stdin_data.empty()) {
    close(in_pipe[1]);
    in_pipe[1] = -1;
  }
  ProcessResult result;
  bool out_open = true, err_open = true;
  char buf[65536];
  while (out_open || err_open || in_pipe[1] >= 0) {
    struct pollfd fds[3];
    int n = 0;
    int out_i = -1, err_i = -1, in_i = -1;
    if (out_open) { fds[n] = {out_pipe[0], POLLIN, 0}; out_i = n++; }
    if (err_open) { fds[n] = {err_pipe[0], POLLIN, 0}; err_i = n++; }
    if (in_pipe[1] >= 0) { fds[n] = {in_pipe[1], POLLOUT, 0}; in_i = n++; }
    if (poll(fds, nfds_t(n), -1) < 0) continue;
    if (out_i >= 0 && fds[out_i].revents) {
      ssize_t r = read(out_pipe[0], buf, sizeof buf);
      if (r > 0) result.out.append(buf, size_t(r)); else out_open = false;
    }
    if (err_i >= 0 && fds[err_i].revents) {
      ssize_t r = read(err_pipe[0], buf, sizeof buf);
      if (r > 0) result.err.append(buf, size_t(r)); else err_open = false;
    }
    if (in_i >= 0 && fds[in_i].revents) {
      ssize_t w = write(in_pipe[1], stdin_data.data() + written, stdin_data.size() - written);
      if (w > 0) written += size_t(w);
      if (w <= 0 || written == stdin_data.size()) {
        close(in_pipe[1]);
        in_pipe[1] = -1;
      }
    }
  }
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::string JetdbPath() { return AFC_JETDB_PATH; }

bool HaveProgram(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::stringstream ss(path);
  std::string dir;
  while (std::getline(ss, dir, ':')) {
    if (access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

}  // namespace testutil

namespace {

namespace fs = std::filesystem;

// Fails every test, with the reason, when the test databases are not where
// the build was told they are. Tests that loop over a folder would
// otherwise pass on nothing.
class TestDataCheck : public ::testing::Environment {
 public:
  void SetUp() override {
    for (const char* folder : {"access", "hosts", "jet-format"}) {
      const std::string dir = testutil::Fixture(folder);
      std::error_code ec;
      bool any = false;
      for (const auto& e : fs::directory_iterator(dir, ec)) {
        (void)e;
        any = true;
        break;
      }
      if (!any) {
        GTEST_FAIL() << "test data folder missing or empty: " << dir
                     << " (configure with -DAFC_FIXTURES_DIR=... to use another place)";
      }
    }
  }
};

[[maybe_unused]] ::testing::Environment* const kTestDataCheck =
    ::testing::AddGlobalTestEnvironment(new TestDataCheck);

}  // namespace
