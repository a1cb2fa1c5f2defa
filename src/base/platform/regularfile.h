// Opening and reading the few files the host takes in whole: the registry stand-in's INI file, the
// executable that carries resources, a workspace image being bound. Only a regular file is read,
// and only up to a stated size, so that a directory, a device such as /dev/zero, a FIFO or a huge
// file gives a message instead of a hang or an exhausted memory. Header-only, so that vantor-bind,
// which links none of the interpreter, can use it.
#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vantor {

// An open file descriptor, closed when the object goes.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Close(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  int fd_ = -1;
};

// A regular file opened for reading, or why it could not be.
struct OpenedFile {
  FileDescriptor fd;
  uint64_t bytes = 0;    // the file's size when it was opened
  bool missing = false;  // the path names nothing
  std::string problem;   // empty when `fd` is open, otherwise a text such as "/tmp is not a regular file"
};

// Opens `path` for reading when it names a regular file. The open does not wait: opening a FIFO
// that has no writer would otherwise block.
inline OpenedFile OpenRegularFile(const std::string& path) {
  OpenedFile file;
  file.fd = FileDescriptor(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info;
  if (!file.fd || fstat(file.fd.get(), &info) != 0) {
    file.missing = errno == ENOENT;
    file.problem = "cannot open " + path + ": " + std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    file.problem = path + " is not a regular file";
  } else {
    file.bytes = static_cast<uint64_t>(info.st_size);
  }
  if (!file.problem.empty()) file.fd = FileDescriptor();
  return file;
}

// Reads `count` bytes at `offset` of an open file; false on a read error or a file that ended early.
inline bool ReadFileAt(const FileDescriptor& fd, uint64_t offset, uint8_t* into, uint64_t count) {
  while (count > 0) {
    const ssize_t n = pread(fd.get(), into, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    into += n;
    offset += static_cast<uint64_t>(n);
    count -= static_cast<uint64_t>(n);
  }
  return true;
}

// The whole contents of a regular file of at most `maxBytes` bytes, or why it could not be read.
struct FileContents {
  std::vector<uint8_t> bytes;
  bool missing = false;  // the path names nothing
  std::string problem;   // empty when `bytes` holds the file
};

inline FileContents ReadRegularFile(const std::string& path, uint64_t maxBytes) {
  FileContents contents;
  OpenedFile file = OpenRegularFile(path);
  contents.missing = file.missing;
  contents.problem = std::move(file.problem);
  if (!contents.problem.empty()) return contents;
  if (file.bytes > maxBytes) {
    contents.problem = path + " is larger than " + std::to_string(maxBytes) + " bytes";
    return contents;
  }
  contents.bytes.resize(file.bytes);
  if (!ReadFileAt(file.fd, 0, contents.bytes.data(), file.bytes)) {
    contents.bytes.clear();
    contents.problem = "cannot read " + path;
  }
  return contents;
}

}  // namespace vantor
