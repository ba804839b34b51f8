// SPDX-License-Identifier: Apache-2.0
#include "test_util.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#undef CopyFile  // a macro of windows.h; ours is testutil::CopyFile
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "jet/os/file.h"
#include "jet/storage/bytes.h"
#include "jet/storage/header.h"
#include "jet/storage/page_codec.h"

namespace testutil {

namespace fs = std::filesystem;

std::string Fixture(const std::string& relative) {
  return std::string(AFC_FIXTURES_DIR) + "/" + relative;
}

std::vector<std::string> FixtureFiles(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  // A missing folder lists nothing (the checker test counts the files, and
  // a missing fixture fails the test that copies it), rather than the
  // program failing before it runs any test.
  for (const auto& e : fs::directory_iterator(Fixture(folder), ec)) {
    const auto ext = e.path().extension();
    if (ext == ".mdb" || ext == ".accdb") out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> AllFixtureFiles() {
  std::vector<std::string> out = FixtureFiles("access");
  for (const std::string& f : FixtureFiles("hosts")) out.push_back(f);
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

void CopyFile(const std::string& from, const std::string& to) { WriteFile(to, ReadFile(from)); }

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

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

std::string CopyOf(const TempDir& dir, const std::string& fixture, const std::string& name) {
  const std::string path = dir.File(name);
  // "/work/x" has no drive, so Windows does not call it absolute; it is.
  CopyFile(fs::path(fixture).has_root_directory() ? fixture : Fixture(fixture), path);
  return path;
}

std::string FixtureTableName(const ::testing::TestParamInfo<FixtureTable>& info) {
  const std::string fixture = info.param.file;
  std::string name = fixture.substr(fixture.find('/') + 1) + "_" + info.param.table;
  for (char& ch : name) {
    if (!std::isalnum(uint8_t(ch))) ch = '_';
  }
  return name;
}

std::vector<DataLine> DataLines(const std::string& relative, bool unescape) {
  std::vector<DataLine> out;
  std::ifstream in(Fixture(relative), std::ios::binary);
  EXPECT_TRUE(in) << "no " << Fixture(relative);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    DataLine& d = out.emplace_back(DataLine{number, {}});
    std::istringstream fields(line);
    for (std::string f; std::getline(fields, f, '\t');) {
      std::string& field = d.fields.emplace_back();
      for (size_t i = 0; i < f.size(); ++i) {
        const char c = unescape && f[i] == '\\' && i + 1 < f.size() ? f[++i] : 0;
        if (c == 'x' && i + 2 < f.size()) {
          field += char(std::stoi(f.substr(i + 1, 2), nullptr, 16));
          i += 2;
        } else {
          field += c == 0 ? f[i] : c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        }
      }
    }
  }
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) out += {kDigits[c >> 4], kDigits[c & 15]};
  return out;
}

namespace {

#ifdef _WIN32

// One argument as the C runtime splits a command line again.
std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

HANDLE Inheritable(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  return CreateFileW(jet::WidePath(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, write ? CREATE_ALWAYS : OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

void Close(void*& h) {
  if (h) CloseHandle(h);
  h = nullptr;
}

#else

void Close(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

#endif

}  // namespace

std::string Child::ReadLine() {
  std::string line;
  char c;
  while (ReadByte(&c) && c != '\n') {
    if (c != '\r') line.push_back(c);
  }
  return line;
}

#ifdef _WIN32

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>* files) {
  std::wstring command;
  for (const std::string& a : argv)
    command += (command.empty() ? L"" : L" ") + Quote(jet::WideFromUtf8(a));
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  if (files) {
    si.hStdInput = Inheritable(files->at(0), false);
    si.hStdOutput = Inheritable(files->at(1), true);
    si.hStdError = Inheritable(files->at(2), true);
  } else {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE in_write, out_read;
    if (!CreatePipe(&si.hStdInput, &in_write, &sa, 0)) return;
    if (!CreatePipe(&out_read, &si.hStdOutput, &sa, 0)) return;
    // Our ends stay ours: no other child inherits them.
    SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    stdin_ = in_write;
    stdout_ = out_read;
  }
  PROCESS_INFORMATION pi = {};
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                     nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
  }
  CloseHandle(si.hStdInput);
  CloseHandle(si.hStdOutput);
  if (files) CloseHandle(si.hStdError);
  if (!process_) throw std::runtime_error("cannot start " + argv[0]);
}

int Child::Finish() {
  Close(stdin_);
  if (process_) {
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    exit_code_ = int(code);
    Close(process_);
  }
  Close(stdout_);
  return exit_code_;
}

void Child::Kill() {
  if (process_) TerminateProcess(process_, 137);
  Finish();
}

bool Child::ReadByte(char* c) {
  DWORD got = 0;
  return stdout_ && ::ReadFile(stdout_, c, 1, &got, nullptr) && got == 1;
}

#else

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>* files) {
  // Close-on-exec, so that no other child keeps the pipes open.
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if (!files && (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)) return;
  // Made before fork: another thread may hold the allocator's lock then.
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::fflush(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    if (files) {
      in[0] = ::open(files->at(0).c_str(), O_RDONLY);
      out[1] = ::open(files->at(1).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(::open(files->at(2).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    }
    dup2(in[0], 0);
    dup2(out[1], 1);
    execvp(args[0], args.data());
    _exit(127);
  }
  Close(in[0]);
  Close(out[1]);
  stdin_ = in[1];
  stdout_ = out[0];
}

int Child::Finish() {
  Close(stdin_);
  if (pid_ > 0) {
    int status = 0;
    waitpid(pid_, &status, 0);
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
  }
  Close(stdout_);
  return exit_code_;
}

void Child::Kill() {
  if (pid_ > 0) kill(pid_, SIGKILL);
  Finish();
}

bool Child::ReadByte(char* c) { return stdout_ >= 0 && ::read(stdout_, c, 1) == 1; }

#endif

// Standard input comes from a file and the two outputs go to files, so that
// no pipe can fill up and stall the program.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& stdin_data) {
  TempDir io;
  const std::vector<std::string> files = {io.File("in"), io.File("out"), io.File("err")};
  WriteFile(files[0], stdin_data);
  const int code = Child(argv, &files).Finish();
  return {code, ReadFile(files[1]), ReadFile(files[2])};
}

std::string JetdbPath() { return AFC_JETDB_PATH; }

ProcessResult Jetdb(int code, std::vector<std::string> args, const std::string& input) {
  args.insert(args.begin(), JetdbPath());
  ProcessResult r = RunProcess(args, input);
  EXPECT_EQ(r.exit_code, code) << args.size() << " arguments: " << r.out << r.err;
  EXPECT_EQ(code == 0 ? r.err : r.out, "") << args.size() << " arguments";
  EXPECT_TRUE(code == 0 || r.err.find("jetdb:") != std::string::npos) << r.err;
  return r;
}

::testing::AssertionResult Has(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

::testing::AssertionResult StartsWith(const std::string& text, const std::string& part) {
  if (text.rfind(part, 0) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << part << "\" does not begin:\n" << text;
}

bool HaveProgram(const std::string& program) {
#ifdef _WIN32
  // The Linux tools the tests compare with are not there to run.
  (void)program;
  return false;
#else
  return std::system(("command -v '" + program + "' >/dev/null 2>&1").c_str()) == 0;
#endif
}

void ExpectMdbExportRows(const std::string& path, const std::string& table, size_t rows) {
  if (!HaveProgram("mdb-export")) return;
  ProcessResult r = RunProcess({"mdb-export", "-H", "-e", "-b", "hex", path, table});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(size_t(std::count(r.out.begin(), r.out.end(), '\n')), rows)
      << "mdb-export reads a different number of rows from " << table;
}

void EncodeDatabase(const std::string& path, uint32_t key) {
  std::string bytes = ReadFile(path);
  auto* data = reinterpret_cast<uint8_t*>(bytes.data());
  const jet::Format& f = jet::Le32(data + 0x14) == 0 ? jet::Jet3Format() : jet::Jet4Format();
  jet::ApplyHeaderMask(data, f);
  ASSERT_EQ(jet::Le32(data + f.header_encoding_key), 0u) << path << " is encoded already";
  jet::PutLe32(data + f.header_encoding_key, key);
  jet::ApplyHeaderMask(data, f);
  const jet::PageCodec codec(key);
  for (size_t at = f.page_size; at < bytes.size(); at += f.page_size) {
    codec.Encode(uint32_t(at / f.page_size), std::span<uint8_t>(data + at, f.page_size));
  }
  WriteFile(path, bytes);
}

std::string ExternalFile(const std::string& name) {
  const char* dir = std::getenv("AFC_EXTERNAL_DATA");
  if (dir == nullptr || *dir == '\0') return "";
  return std::string(dir) + "/" + name;
}

}  // namespace testutil
