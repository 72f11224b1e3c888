#include "transcript/record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <utility>

namespace tapbroker::transcript {
namespace {

// What the copy of a spill file into the target moves at a time.
constexpr std::size_t kCopyChunk = std::size_t{256} << 10;

std::string reason() { return std::strerror(errno); }

// The directory of `path`, where its spill file goes: on the same file system, so that a
// full disk shows while the conversation runs, not only when its block is appended.
std::string directoryOf(const std::string& path) {
#ifdef _WIN32
  const std::size_t slash = path.find_last_of("/\\");
#else
  const std::size_t slash = path.rfind('/');
#endif
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

#ifdef _WIN32

using Offset = long long;

int makeSpill(const std::string& directory) {
  char name[MAX_PATH];
  if (GetTempFileNameA(directory.c_str(), "tbs", 0, name) == 0) {
    errno = EACCES;
    return -1;
  }
  // Deleted when closed, whatever way the process ends.
  const int fd = _open(name, _O_RDWR | _O_BINARY | _O_TEMPORARY | _O_NOINHERIT);
  if (fd < 0) DeleteFileA(name);
  return fd;
}

long long writeSome(int fd, const char* data, std::size_t length) {
  return _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(length, 1u << 30)));
}

long long readSome(int fd, char* into, std::size_t most) {
  return _read(fd, into, static_cast<unsigned>(most));
}
Offset seek(int fd, Offset offset, int whence) { return _lseeki64(fd, offset, whence); }
bool cutBack(int fd, Offset length) { return _chsize_s(fd, length) == 0; }
void closeFile(int fd) { _close(fd); }

bool lockWhole(int fd, bool lock) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  OVERLAPPED whole{};
  return lock ? LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0
              : UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole) != 0;
}

int openTarget(const char* path) {
  return _open(path, _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
               _S_IREAD | _S_IWRITE);
}

const char* notRegular(int fd) {
  struct _stat64 opened;
  if (_fstat64(fd, &opened) != 0) return "cannot be examined";
  if ((opened.st_mode & _S_IFMT) == _S_IFREG) return nullptr;
  return (opened.st_mode & _S_IFMT) == _S_IFCHR ? "a device, not a regular file"
                                                : "not a regular file";
}

#else

using Offset = off_t;

int makeSpill(const std::string& directory) {
#ifdef O_TMPFILE
  const int nameless = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (nameless >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
    return nameless;
  }
#endif
  std::string name = directory + "/.tapbroker-spill-XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

long long writeSome(int fd, const char* data, std::size_t length) {
  ssize_t written;
  do {
    written = ::write(fd, data, length);
  } while (written < 0 && errno == EINTR);
  return written;
}

long long readSome(int fd, char* into, std::size_t most) {
  ssize_t got;
  do {
    got = ::read(fd, into, most);
  } while (got < 0 && errno == EINTR);
  return got;
}
Offset seek(int fd, Offset offset, int whence) { return ::lseek(fd, offset, whence); }
bool cutBack(int fd, Offset length) { return ::ftruncate(fd, length) == 0; }
void closeFile(int fd) { ::close(fd); }

bool lockWhole(int fd, bool lock) {
  int result;
  do {
    result = ::flock(fd, lock ? LOCK_EX : LOCK_UN);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

int openTarget(const char* path) {
  // Without waiting: a FIFO without a reader fails at once instead of holding the caller.
  return ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
}

// Judged on the opened file, so a path replaced since it was named is judged as it is now.
const char* notRegular(int fd) {
  struct stat opened;
  if (::fstat(fd, &opened) != 0) return "cannot be examined";
  if (S_ISREG(opened.st_mode)) return nullptr;
  if (S_ISFIFO(opened.st_mode)) return "a FIFO, not a regular file";
  if (S_ISCHR(opened.st_mode) || S_ISBLK(opened.st_mode)) return "a device, not a regular file";
  if (S_ISSOCK(opened.st_mode)) return "a socket, not a regular file";
  return "not a regular file";
}

#endif

bool writeAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const long long written = writeSome(fd, data, length);
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      return false;
    }
    data += static_cast<std::size_t>(written);
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

// Copies the first `length` bytes of `from` to the end of `to`.
bool copySpill(int from, std::uint64_t length, int to) {
  if (seek(from, 0, SEEK_SET) != 0) return false;
  const auto chunk = std::make_unique<char[]>(kCopyChunk);
  while (length > 0) {
    const long long got = readSome(from, chunk.get(), std::min<std::uint64_t>(length, kCopyChunk));
    if (got <= 0) {
      if (got == 0) errno = EIO;  // the spill file is shorter than what went into it
      return false;
    }
    if (!writeAll(to, chunk.get(), static_cast<std::size_t>(got))) return false;
    length -= static_cast<std::uint64_t>(got);
  }
  return true;
}

}  // namespace

constexpr std::size_t kHalf = PendingBlock::kHeld / 2;

PendingBlock::PendingBlock(std::string target, std::string_view client)
    : target_(std::move(target)) {
  // The whole half at once: the text never grows by copying itself.
  filling_.text = std::make_unique<char[]>(kHalf);
  put(mostHeaderLength(client.size()), [client](char* at) { return writeHeader(at, client); });
}

PendingBlock::~PendingBlock() {
  settle();
  if (spill_ >= 0) closeFile(spill_);
}

PendingBlock::PendingBlock(PendingBlock&& other) noexcept { *this = std::move(other); }

PendingBlock& PendingBlock::operator=(PendingBlock&& other) noexcept {
  if (this != &other) {
    // No write may be under way while the buffers change hands.
    settle();
    other.settle();
    if (spill_ >= 0) closeFile(spill_);
    target_ = std::move(other.target_);
    filling_ = std::exchange(other.filling_, {});
    writing_ = std::exchange(other.writing_, {});
    spill_ = std::exchange(other.spill_, -1);
    spilled_ = other.spilled_;
    failure_ = std::move(other.failure_);
  }
  return *this;
}

void PendingBlock::exchange(Direction direction, const void* data, std::size_t length) {
  put(mostLineLength(length), [=](char* at) { return writeLine(at, direction, data, length); });
}

template <class Write>
void PendingBlock::put(std::size_t most, Write write) {
  // Room is always left for the blank line that ends the block.
  if (failure_.empty() && filling_.used + most + 1 > kHalf) spill();
  if (!failure_.empty()) return;
  if (most + 1 <= kHalf) {
    filling_.used = static_cast<std::size_t>(write(filling_.text.get() + filling_.used) -
                                             filling_.text.get());
    return;
  }
  // A line longer than the half (an edited transcript replayed): straight to the file.
  std::string line(most, '\0');
  line.resize(static_cast<std::size_t>(write(line.data()) - line.data()));
  spillNow(line.data(), line.size());
}

void PendingBlock::fail(std::string reason) {
  failure_ = std::move(reason);
  filling_ = {};
  writing_ = {};
}

void PendingBlock::settle() {
  if (!written_.valid()) return;
  std::string failed = written_.get();
  if (failure_.empty() && !failed.empty()) fail(std::move(failed));
}

bool PendingBlock::readyToSpill() {
  settle();
  if (failure_.empty() && spill_ < 0) {
    spill_ = makeSpill(directoryOf(target_));
    if (spill_ < 0) fail("cannot make a spill file beside it: " + reason());
  }
  return failure_.empty();
}

void PendingBlock::spillNow(const char* text, std::size_t length) {
  if (!readyToSpill()) return;
  if (!writeAll(spill_, text, length)) return fail(reason());
  spilled_ += length;
}

void PendingBlock::spill() {
  if (!readyToSpill()) return;
  std::swap(filling_, writing_);
  if (!filling_.text) filling_.text = std::make_unique<char[]>(kHalf);
  filling_.used = 0;
  spilled_ += writing_.used;
  auto write = [fd = spill_, text = writing_.text.get(), length = writing_.used] {
    return writeAll(fd, text, length) ? std::string() : reason();
  };
  try {
    written_ = std::async(std::launch::async, write);
  } catch (const std::system_error&) {
    // No thread to be had: written here instead.
    if (std::string failed = write(); !failed.empty()) fail(std::move(failed));
  }
}

RecordFile::~RecordFile() {
  if (fd_ >= 0) closeFile(fd_);
}

bool RecordFile::open(const std::string& path, std::string& error) {
  if (fd_ >= 0) closeFile(fd_);
  fd_ = openTarget(path.c_str());
  if (fd_ < 0) {
    error = reason();
    return false;
  }
  if (const char* what = notRegular(fd_)) {
    closeFile(fd_);  // nothing was written: closing raises no signal
    fd_ = -1;
    error = what;
    return false;
  }
  return true;
}

bool RecordFile::append(PendingBlock& block, std::string& error) {
  block.settle();
  if (!block.failure_.empty()) {
    error = block.failure_;
    return false;
  }
  block.filling_.text[block.filling_.used++] = '\n';
  if (!lockWhole(fd_, true)) {
    error = "cannot lock it: " + reason();
    return false;
  }
  const Offset start = seek(fd_, 0, SEEK_END);
  bool written = start >= 0;
  if (written && block.spill_ >= 0) written = copySpill(block.spill_, block.spilled_, fd_);
  written = written && writeAll(fd_, block.filling_.text.get(), block.filling_.used);
  if (!written) {
    error = reason();
    // Taken back, so that the file still holds only whole blocks.
    if (start >= 0 && !cutBack(fd_, start)) error += "; and the part written stays: " + reason();
  }
  lockWhole(fd_, false);
  return written;
}

}  // namespace tapbroker::transcript
