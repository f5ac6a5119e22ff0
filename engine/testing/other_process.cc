#include "engine/testing/other_process.h"

#include <cerrno>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace engine::testing {
namespace {

constexpr const char* kHelper = KARVELTA_OTHER_CLIENT;

#ifdef _WIN32
std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

// One argument quoted the way the C runtime's command-line parser reads it.
std::wstring quoted(const std::wstring& arg) {
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}
#endif

}  // namespace

#ifdef _WIN32
struct OtherProcess::Process {
  PROCESS_INFORMATION info{};
  HANDLE input = nullptr;   // our end of its standard input
  HANDLE output = nullptr;  // our end of its standard output
};

namespace {
OtherProcess::Process* start(const std::string& program, const std::vector<std::string>& args) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE inRead, inWrite, outRead, outWrite;
  if (!::CreatePipe(&inRead, &inWrite, &inherit, 0)) throw std::runtime_error("CreatePipe");
  if (!::CreatePipe(&outRead, &outWrite, &inherit, 0)) throw std::runtime_error("CreatePipe");
  ::SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  std::wstring commandLine = quoted(widen(program));
  for (const std::string& a : args) commandLine += L" " + quoted(widen(a));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inRead;
  startup.hStdOutput = outWrite;
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  auto* p = new OtherProcess::Process;
  const std::wstring application = widen(program);
  const BOOL ok = ::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                   nullptr, nullptr, &startup, &p->info);
  ::CloseHandle(inRead);
  ::CloseHandle(outWrite);
  if (!ok) {
    ::CloseHandle(inWrite);
    ::CloseHandle(outRead);
    delete p;
    throw std::runtime_error("cannot start " + program);
  }
  p->input = inWrite;
  p->output = outRead;
  return p;
}

std::string readLine(OtherProcess::Process& p) {
  std::string line;
  char c;
  DWORD got = 0;
  while (::ReadFile(p.output, &c, 1, &got, nullptr) && got == 1 && c != '\n') line += c;
  return line;
}

std::string readToEnd(OtherProcess::Process& p) {
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(p.output, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  return text;
}

void closeInput(OtherProcess::Process& p) {
  if (p.input) ::CloseHandle(p.input);
  p.input = nullptr;
}

int finish(OtherProcess::Process* p) {
  closeInput(*p);
  ::WaitForSingleObject(p->info.hProcess, INFINITE);
  DWORD code = 1;
  ::GetExitCodeProcess(p->info.hProcess, &code);
  ::CloseHandle(p->output);
  ::CloseHandle(p->info.hProcess);
  ::CloseHandle(p->info.hThread);
  delete p;
  return static_cast<int>(code);
}
}  // namespace
#else
struct OtherProcess::Process {
  pid_t pid = -1;
  int input = -1;
  int output = -1;
};

namespace {
OtherProcess::Process* start(const std::string& program, const std::vector<std::string>& args) {
  int in[2], out[2];
  if (::pipe(in) != 0) throw std::runtime_error("pipe");
  if (::pipe(out) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  for (int fd : {in[0], in[1], out[0], out[1]}) ::posix_spawn_file_actions_addclose(&actions, fd);
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  auto* p = new OtherProcess::Process;
  const int rc = ::posix_spawn(&p->pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  if (rc != 0) {
    ::close(in[1]);
    ::close(out[0]);
    delete p;
    throw std::runtime_error("cannot start " + program);
  }
  p->input = in[1];
  p->output = out[0];
  return p;
}

std::string readLine(OtherProcess::Process& p) {
  std::string line;
  char c;
  while (::read(p.output, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

std::string readToEnd(OtherProcess::Process& p) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(p.output, buffer, sizeof buffer);
    if (got > 0) {
      text.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      return text;
    }
  }
}

void closeInput(OtherProcess::Process& p) {
  if (p.input >= 0) ::close(p.input);
  p.input = -1;
}

int finish(OtherProcess::Process* p) {
  closeInput(*p);
  int status = 0;
  while (::waitpid(p->pid, &status, 0) < 0) {
  }
  ::close(p->output);
  delete p;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}
}  // namespace
#endif

OtherProcess::OtherProcess(const std::vector<std::string>& args) : process_(start(kHelper, args)) {
  std::string line = readLine(*process_);
  if (!line.empty() && line.back() == '\r') line.pop_back();  // the C runtime's text mode on Windows
  if (line != "ready") {
    finish(process_);
    process_ = nullptr;
    throw std::runtime_error("the other process is not ready: " + line);
  }
}

OtherProcess::~OtherProcess() { release(); }

int OtherProcess::release() {
  if (process_ != nullptr) {
    exitCode_ = finish(process_);
    process_ = nullptr;
  }
  return exitCode_;
}

int OtherProcess::run(const std::vector<std::string>& args) { return finish(start(kHelper, args)); }

int runProgram(const std::string& program, const std::vector<std::string>& args, std::string& output) {
  OtherProcess::Process* p = start(program, args);
  closeInput(*p);
  output = readToEnd(*p);
  return finish(p);
}

}  // namespace engine::testing
