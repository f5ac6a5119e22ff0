// The Linux Env: POSIX calls, open file description locks, and the kernel's
// copy between files.
#include "engine/env.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <vector>

#include "engine/error.h"

namespace engine {
namespace {

std::string describe(const std::string& what, const std::string& path) {
  return what + " '" + path + "': " + std::strerror(errno);
}

class PosixFile final : public File {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

  std::uint64_t size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw Error(describe("cannot stat", path_));
    return static_cast<std::uint64_t>(st.st_size);
  }

  void read(std::uint64_t offset, std::span<std::uint8_t> out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      ssize_t n = ::pread(fd_, out.data() + done, out.size() - done,
                          static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw Error(describe("cannot read", path_));
      }
      if (n == 0) throw Error("unexpected end of file in '" + path_ + "'");
      done += static_cast<std::size_t>(n);
    }
  }

  void write(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    std::size_t done = 0;
    while (done < data.size()) {
      ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done,
                           static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw Error(describe("cannot write", path_));
      }
      done += static_cast<std::size_t>(n);
    }
  }

  void sync() override {
    if (::fsync(fd_) != 0) throw Error(describe("cannot flush", path_));
  }

  void truncate(std::uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
      throw Error(describe("cannot truncate", path_));
  }

 private:
  int fd_;
  std::string path_;
};

class PosixLock final : public FileLock {
 public:
  explicit PosixLock(int fd) : fd_(fd) {}
  ~PosixLock() override { ::close(fd_); }  // closing the description drops the lock
  PosixLock(const PosixLock&) = delete;
  PosixLock& operator=(const PosixLock&) = delete;

 private:
  int fd_;
};

class PosixEnv final : public Env {
 public:
  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    int flags = O_CLOEXEC;
    switch (mode) {
      case OpenMode::ReadOnly: flags |= O_RDONLY; break;
      case OpenMode::ReadWrite: flags |= O_RDWR; break;
      case OpenMode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
      case OpenMode::CreateOrTruncate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    if (path.empty()) throw Error("cannot open a file with an empty path");
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) throw Error(describe("cannot open", path));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      throw Error("not a regular file: '" + path + "'");
    }
    return std::make_unique<PosixFile>(fd, path);
  }

  bool exists(const std::string& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
  }

  void remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
      throw Error(describe("cannot remove", path));
  }

  void renameNoReplace(const std::string& from, const std::string& to) override {
    // link + unlink never replaces an existing target, on every local file system.
    if (::link(from.c_str(), to.c_str()) != 0)
      throw Error(describe("cannot rename to", to));
    if (::unlink(from.c_str()) != 0) throw Error(describe("cannot remove", from));
  }

  void syncDirectory(const std::string& dir) override {
    int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw Error(describe("cannot open directory", dir));
    int rc = ::fsync(fd);
    ::close(fd);
    if (rc != 0) throw Error(describe("cannot flush directory", dir));
  }

  std::unique_ptr<FileLock> tryLockExclusive(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw Error(describe("cannot open lock file", path));
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &fl) != 0) {
      int err = errno;
      ::close(fd);
      if (err == EACCES || err == EAGAIN) return nullptr;
      errno = err;
      throw Error(describe("cannot lock", path));
    }
    return std::make_unique<PosixLock>(fd);
  }

  bool isLockedElsewhere(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock fl {};
    fl.l_type = F_WRLCK;  // conflicts with any read or write lock
    fl.l_whence = SEEK_SET;
    int rc = ::fcntl(fd, F_OFD_GETLK, &fl);
    ::close(fd);
    if (rc != 0) throw Error(describe("cannot query locks on", path));
    return fl.l_type != F_UNLCK;
  }

  void copyFileContents(File& from, File& to) override {
    auto* src = dynamic_cast<PosixFile*>(&from);
    auto* dst = dynamic_cast<PosixFile*>(&to);
    if (src == nullptr || dst == nullptr) {
      Env::copyFileContents(from, to);
      return;
    }
    const std::uint64_t total = src->size();
    std::uint64_t done = kernelCopy(*src, *dst, total);
    if (done < total) {
      // The kernel had no fast path between these two files: copy the rest
      // through a buffer.
      std::vector<std::uint8_t> buffer(static_cast<std::size_t>(
          std::min<std::uint64_t>(kCopyChunk, total - done)));
      while (done < total) {
        std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>(buffer.size(), total - done));
        src->read(done, std::span(buffer.data(), n));
        dst->write(done, std::span<const std::uint8_t>(buffer.data(), n));
        done += n;
      }
    }
    dst->truncate(total);
  }

  std::tm localTime() override {
    std::time_t now = std::time(nullptr);
    std::tm out{};
    if (::localtime_r(&now, &out) == nullptr) throw Error("cannot read the local time");
    return out;
  }

  std::optional<std::string> programDirectory() override {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !exe.is_absolute() || !exe.has_parent_path()) return std::nullopt;
    return exe.parent_path().string();
  }

 private:
  // Copies with copy_file_range, or sendfile where that is refused, from
  // offset 0; returns how many bytes went through (less than total only when
  // neither call works between these files, never on a real I/O error).
  static std::uint64_t kernelCopy(PosixFile& src, PosixFile& dst, std::uint64_t total) {
    std::uint64_t done = 0;
    bool useSendfile = false;
    while (done < total) {
      std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(total - done, 1u << 30));
      ssize_t n;
      if (!useSendfile) {
        loff_t in = static_cast<loff_t>(done), out = static_cast<loff_t>(done);
        n = ::copy_file_range(src.fd(), &in, dst.fd(), &out, want, 0);
        if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                      errno == EOPNOTSUPP || errno == EBADF) && done == 0) {
          useSendfile = true;
          continue;
        }
      } else {
        if (::lseek(dst.fd(), static_cast<off_t>(done), SEEK_SET) < 0)
          throw Error(describe("cannot seek", dst.path()));
        off_t in = static_cast<off_t>(done);
        n = ::sendfile(dst.fd(), src.fd(), &in, want);
        if (n < 0 && (errno == EINVAL || errno == ENOSYS) && done == 0) return 0;
      }
      if (n < 0) {
        if (errno == EINTR) continue;
        throw Error(describe("cannot copy", src.path()) + " to '" + dst.path() + "'");
      }
      if (n == 0) throw Error("unexpected end of file in '" + src.path() + "'");
      done += static_cast<std::uint64_t>(n);
    }
    return done;
  }
};

}  // namespace

Env& Env::system() {
  static PosixEnv env;
  return env;
}

}  // namespace engine
