// The platform seam: files, locks, the clock and the program's directory.
//
// Everything that touches the operating system goes through an Env so that
// tests can inject a clock, a failing write or a simulated crash with one
// small subclass. Env::system() is the real thing: env_posix.cc on Linux,
// env_windows.cc on Windows (the build takes one of them). Paths are UTF-8
// text on every platform; the Windows Env hands them to the system as UTF-16.
//
// An Env may be called from several threads at once, and each of its Files
// from one thread at a time (compaction checks its source on a second thread
// while it writes, and checks the result while it is flushed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace engine {

// A random-access file. Every method throws engine::Error on failure.
class File {
 public:
  virtual ~File() = default;
  virtual std::uint64_t size() = 0;
  // Reads exactly out.size() bytes at offset; a short read is an Error.
  virtual void read(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
  virtual void write(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;
  virtual void sync() = 0;
  virtual void truncate(std::uint64_t size) = 0;
};

enum class OpenMode {
  ReadOnly,        // must exist
  ReadWrite,       // must exist
  CreateNew,       // read-write; fails when the path exists already
  CreateOrTruncate // read-write; an existing file is emptied
};

// A lock held on a file that other processes can see. Released on destruction.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

class Env {
 public:
  virtual ~Env() = default;

  // The process-wide real environment.
  static Env& system();

  virtual std::unique_ptr<File> open(const std::string& path, OpenMode mode) = 0;
  virtual bool exists(const std::string& path) = 0;
  // Removes a file; a missing file is not an error.
  virtual void remove(const std::string& path) = 0;
  // Gives `from` the name `to`; fails (and changes nothing) when `to` exists.
  virtual void renameNoReplace(const std::string& from, const std::string& to) = 0;
  // Makes a rename or removal inside a directory durable.
  virtual void syncDirectory(const std::string& dir) = 0;

  // Takes an exclusive lock on the whole file at path (created if missing),
  // visible to other processes. Returns null when the file is locked (Linux:
  // a lock through any other open file description) or, on Windows, open
  // through any other handle, of this process or another; sharing one lock
  // between connections of one process is the caller's bookkeeping. The
  // Windows lock file goes away when the lock is dropped.
  virtual std::unique_ptr<FileLock> tryLockExclusive(const std::string& path) = 0;
  // True when another process holds an existing file at path in a way that
  // forbids our writing it. Linux: some other open file description holds a
  // lock on any byte of it. Windows: another handle has it open for writing,
  // or denies others reading or writing it (handles of this process that
  // opened it for writing do not count). A missing file is not locked.
  virtual bool isLockedElsewhere(const std::string& path) = 0;

  // The current local date and time, broken down.
  virtual std::tm localTime() = 0;

  // The directory that holds the running program's executable, without a
  // separator at its end; none when the system cannot tell.
  virtual std::optional<std::string> programDirectory() = 0;

  // Copies the whole content of `from` into `to`, which ends up exactly as
  // long as `from` was when the copy began; nothing is held in memory beyond
  // a fixed-size buffer. Not pure: this default goes through File::read and
  // File::write in chunks, so an Env whose files inject faults sees every
  // byte; the real Env hands the copy to the kernel where it can.
  virtual void copyFileContents(File& from, File& to);

  // The chunk size of the default copy.
  static constexpr std::size_t kCopyChunk = std::size_t{1} << 20;
};

// An Env that hands every call to another one. A test or benchmark seam
// derives from it and overrides only what it changes (the clock, say).
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}
  Env& target() const { return target_; }

  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    return target_.open(path, mode);
  }
  bool exists(const std::string& path) override { return target_.exists(path); }
  void remove(const std::string& path) override { target_.remove(path); }
  void renameNoReplace(const std::string& from, const std::string& to) override {
    target_.renameNoReplace(from, to);
  }
  void syncDirectory(const std::string& dir) override { target_.syncDirectory(dir); }
  std::unique_ptr<FileLock> tryLockExclusive(const std::string& path) override {
    return target_.tryLockExclusive(path);
  }
  bool isLockedElsewhere(const std::string& path) override { return target_.isLockedElsewhere(path); }
  std::tm localTime() override { return target_.localTime(); }
  std::optional<std::string> programDirectory() override { return target_.programDirectory(); }
  void copyFileContents(File& from, File& to) override { target_.copyFileContents(from, to); }

 private:
  Env& target_;
};

// A File that hands every call to another one, for seams that watch or
// change some of them.
class FileWrapper : public File {
 public:
  explicit FileWrapper(std::unique_ptr<File> target) : target_(std::move(target)) {}
  File& target() const { return *target_; }

  std::uint64_t size() override { return target_->size(); }
  void read(std::uint64_t offset, std::span<std::uint8_t> out) override { target_->read(offset, out); }
  void write(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    target_->write(offset, data);
  }
  void sync() override { target_->sync(); }
  void truncate(std::uint64_t size) override { target_->truncate(size); }

 private:
  std::unique_ptr<File> target_;
};

}  // namespace engine
