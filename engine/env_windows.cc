// The Windows Env: the wide-character file calls, share modes in place of
// Linux's advisory locks, and the system clock.
//
// Paths arrive as UTF-8 and go to the system as UTF-16. Share modes:
//   - a file opened for writing denies other writers (FILE_SHARE_READ only).
//     All the Files of this process that write one path share one handle, so
//     that the connections of one process do not shut each other out while
//     every other program is kept from writing;
//   - a file opened for reading lets others read, write and remove it, as a
//     file descriptor on Linux does;
//   - a lock (tryLockExclusive) is a handle that shares nothing but
//     removal: while it is open no other program can open the file at all.
// See engine/FORMAT.md, "Sharing a database with the real engine", for what
// the sales program's engine does with these files.
//
// Every name goes to the system through systemPath (engine/path.h): absolute,
// normalised, and in extended-length form when long. A sharing or lock
// violation is thrown as a SharingViolation; Env::system() is this Env under
// the retrying layer (engine/retrying_env.h), which tries such calls again
// for a moment. A file with the read-only attribute is never opened for
// writing: Windows refuses that open by itself, and the check here makes
// Wine run as root (which lets it through) refuse it alike.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/env.h"
#include "engine/error.h"
#include "engine/path.h"
#include "engine/retrying_env.h"

namespace engine {
namespace {

// The system's own text for an error code, in UTF-8.
std::string systemText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = n > 0 ? narrow(std::wstring_view(buffer, n)) : std::string();
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                           text.back() == '.'))
    text.pop_back();
  return text.empty() ? "system error " + std::to_string(code) : text;
}

bool isSharingViolation(DWORD code) { return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION; }

// Throws the failure of a call on path: a SharingViolation for the codes of
// another handle's share mode or byte-range lock, else an Error.
[[noreturn]] void fail(const std::string& what, const std::string& path, DWORD code = ::GetLastError()) {
  const std::string message = what + " '" + path + "': " + systemText(code);
  if (isSharingViolation(code)) throw SharingViolation(message);
  throw Error(message);
}

bool isMissing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

// The name of the running program, path and all.
std::optional<std::wstring> moduleFileName() {
  std::vector<wchar_t> buffer(MAX_PATH);
  while (buffer.size() <= 32768) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::nullopt;
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);  // the name was cut: try a larger buffer
  }
  return std::nullopt;
}

// A name in plain form: "\\?\UNC\server\..." as "\\server\...", "\\?\C:\..." as "C:\...".
std::wstring withoutExtendedPrefix(std::wstring name) {
  if (name.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + name.substr(8);
  if (name.rfind(L"\\\\?\\", 0) == 0 && name.size() >= 6 && name[5] == L':') return name.substr(4);
  return name;
}

// One open handle, closed with its last owner.
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { ::CloseHandle(h_); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// Reads and writes at an offset through OVERLAPPED, so the handle's own file
// position is never used and Files sharing a handle do not disturb each other.
OVERLAPPED at(std::uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

class WindowsFile final : public File {
 public:
  WindowsFile(std::shared_ptr<Handle> handle, std::string path)
      : handle_(std::move(handle)), path_(std::move(path)) {}

  std::uint64_t size() override {
    LARGE_INTEGER n{};
    if (!::GetFileSizeEx(handle_->get(), &n)) fail("cannot read the size of", path_);
    return static_cast<std::uint64_t>(n.QuadPart);
  }

  void read(std::uint64_t offset, std::span<std::uint8_t> out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      const DWORD want = static_cast<DWORD>(std::min(out.size() - done, kMaxTransfer));
      OVERLAPPED o = at(offset + done);
      DWORD got = 0;
      if (!::ReadFile(handle_->get(), out.data() + done, want, &got, &o)) {
        const DWORD code = ::GetLastError();
        if (code != ERROR_HANDLE_EOF) fail("cannot read", path_, code);
        got = 0;
      }
      if (got == 0) throw Error("unexpected end of file in '" + path_ + "'");
      done += got;
    }
  }

  void write(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    std::size_t done = 0;
    while (done < data.size()) {
      const DWORD want = static_cast<DWORD>(std::min(data.size() - done, kMaxTransfer));
      OVERLAPPED o = at(offset + done);
      DWORD put = 0;
      if (!::WriteFile(handle_->get(), data.data() + done, want, &put, &o))
        fail("cannot write", path_);
      if (put == 0) throw Error("cannot write '" + path_ + "': nothing was written");
      done += put;
    }
  }

  void sync() override {
    if (!::FlushFileBuffers(handle_->get())) fail("cannot flush", path_);
  }

  void truncate(std::uint64_t size) override {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFileInformationByHandle(handle_->get(), FileEndOfFileInfo, &end, sizeof end))
      fail("cannot truncate", path_);
  }

 private:
  std::shared_ptr<Handle> handle_;
  std::string path_;
};

class WindowsLock final : public FileLock {
 public:
  explicit WindowsLock(HANDLE h) : handle_(h) {}

 private:
  Handle handle_;
};

class WindowsEnv final : public Env {
 public:
  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    if (path.empty()) throw Error("cannot open a file with an empty path");
    const std::wstring wide = systemPath(path);
    if (mode == OpenMode::ReadOnly) {
      HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h == INVALID_HANDLE_VALUE) fail("cannot open", path);
      auto handle = std::make_shared<Handle>(h);
      checkRegular(*handle, path);
      return std::make_unique<WindowsFile>(std::move(handle), path);
    }

    const std::string key = pathKey(path);
    std::lock_guard guard(writersMutex_);
    std::erase_if(writers_, [](const auto& entry) { return entry.second.expired(); });
    if (auto it = writers_.find(key); it != writers_.end()) {
      std::shared_ptr<Handle> shared = it->second.lock();
      if (mode == OpenMode::CreateNew) throw Error("cannot create '" + path + "': it exists already");
      auto file = std::make_unique<WindowsFile>(std::move(shared), path);
      if (mode == OpenMode::CreateOrTruncate) file->truncate(0);
      return file;
    }
    const DWORD disposition = mode == OpenMode::ReadWrite  ? OPEN_EXISTING
                              : mode == OpenMode::CreateNew ? CREATE_NEW
                                                            : OPEN_ALWAYS;
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("cannot open", path);
    auto handle = std::make_shared<Handle>(h);
    if ((checkRegular(*handle, path) & FILE_ATTRIBUTE_READONLY) != 0)
      throw Error("cannot open '" + path + "' for writing: the file is marked read-only");
    auto file = std::make_unique<WindowsFile>(handle, path);
    if (mode == OpenMode::CreateOrTruncate) file->truncate(0);
    writers_[key] = handle;
    return file;
  }

  bool exists(const std::string& path) override {
    if (path.empty()) return false;
    return ::GetFileAttributesW(systemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  void remove(const std::string& path) override {
    if (!::DeleteFileW(systemPath(path).c_str())) {
      const DWORD code = ::GetLastError();
      if (!isMissing(code)) fail("cannot remove", path, code);
    }
  }

  void renameNoReplace(const std::string& from, const std::string& to) override {
    // Without MOVEFILE_REPLACE_EXISTING an existing target makes the call
    // fail and change nothing; the rename is on the disk when it returns.
    if (!::MoveFileExW(systemPath(from).c_str(), systemPath(to).c_str(), MOVEFILE_WRITE_THROUGH))
      fail("cannot rename to", to);
  }

  void syncDirectory(const std::string& dir) override {
    const std::string name = dir.empty() ? std::string(".") : dir;
    HANDLE h = ::CreateFileW(systemPath(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD code = ::GetLastError();
      // NTFS writes a folder's entries through its own log, which the flush
      // of each file commits; a folder that may not be opened for that extra
      // flush is no failure, a missing one is.
      if (code == ERROR_ACCESS_DENIED) return;
      fail("cannot open directory", name, code);
    }
    Handle handle(h);
    if (!::FlushFileBuffers(h)) {
      const DWORD code = ::GetLastError();
      if (code != ERROR_ACCESS_DENIED && code != ERROR_INVALID_FUNCTION)
        fail("cannot flush directory", name, code);
    }
  }

  std::unique_ptr<FileLock> tryLockExclusive(const std::string& path) override {
    // Shares only removal, so the holder can remove the lock file while it
    // still holds it (it goes when the handle closes).
    HANDLE h = ::CreateFileW(systemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD code = ::GetLastError();
      if (isSharingViolation(code)) return nullptr;
      fail("cannot open lock file", path, code);
    }
    return std::make_unique<WindowsLock>(h);
  }

  bool isLockedElsewhere(const std::string& path) override {
    {
      // While this process writes the file no other handle can write it or
      // deny us: our handle's share mode and theirs would have clashed.
      std::lock_guard guard(writersMutex_);
      auto it = writers_.find(pathKey(path));
      if (it != writers_.end() && !it->second.expired()) return false;
    }
    // An open for writing that denies other writers fails with a sharing
    // violation exactly when another handle writes the file or denies us.
    HANDLE h = ::CreateFileW(systemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD code = ::GetLastError();
      return isSharingViolation(code);
    }
    ::CloseHandle(h);
    return false;
  }

  std::tm localTime() override {
    SYSTEMTIME st{};
    ::GetLocalTime(&st);
    std::tm out{};
    out.tm_year = st.wYear - 1900;
    out.tm_mon = st.wMonth - 1;
    out.tm_mday = st.wDay;
    out.tm_hour = st.wHour;
    out.tm_min = st.wMinute;
    out.tm_sec = st.wSecond;
    out.tm_wday = st.wDayOfWeek;
    out.tm_isdst = -1;
    return out;
  }

  std::optional<std::string> programDirectory() override {
    const std::optional<std::wstring> module = moduleFileName();
    if (!module) return std::nullopt;
    // A program started through an extended-length name is told it in that
    // form; the folder is given in the plain one, as shown to the user.
    const std::string exe = narrow(withoutExtendedPrefix(*module));
    const std::size_t slash = exe.find_last_of("\\/");
    if (exe.empty() || slash == std::string::npos) return std::nullopt;
    std::string dir = directoryOf(exe);
    while (dir.size() > 3 && isPathSeparator(dir.back())) dir.pop_back();
    return dir;
  }

 private:
  // Refuses anything but a file on a disk; returns its attributes.
  static DWORD checkRegular(const Handle& handle, const std::string& path) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle.get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(handle.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      throw Error("not a regular file: '" + path + "'");
    return info.dwFileAttributes;
  }

  // The handles of the files this process has open for writing, by pathKey.
  std::mutex writersMutex_;
  std::map<std::string, std::weak_ptr<Handle>> writers_;
};

}  // namespace

Env& Env::system() {
  static WindowsEnv raw;
  static RetryingEnv env(raw);
  return env;
}

}  // namespace engine
