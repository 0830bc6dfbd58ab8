#include "platform/standin/stored_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

namespace tidingsbell::standin {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Creates the missing folders of the chain, each readable by the user alone.
bool ensureFolder(const std::filesystem::path& folder) {
  if (folder.empty()) return true;
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  if (!ensureFolder(folder.parent_path())) return false;
  return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

bool writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A save killed between making its temporary file and renaming it leaves the temporary behind,
// with what it was writing (a token, perhaps). The temporaries carry a name of their own, so
// that only they are removed: a user's "keychain.json.backup" is not ours to delete. Only a
// save that holds the lock makes one, so under the lock every file so named is such a leftover.
constexpr std::string_view kTemporaryInfix = ".tidingsbell-tmp-";

void removeStaleTemporaries(const std::filesystem::path& path) {
  const std::string prefix = path.filename().string() + std::string(kTemporaryInfix);
  const std::filesystem::path parent = path.has_parent_path() ? path.parent_path() : ".";
  DIR* folder = ::opendir(parent.c_str());
  if (folder == nullptr) return;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string_view name = entry->d_name;
    // mkostemp's six characters: letters and digits.
    if (name.size() != prefix.size() + 6 || !name.starts_with(prefix)) continue;
    const std::string_view suffix = name.substr(prefix.size());
    if (std::all_of(suffix.begin(), suffix.end(),
                    [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; })) {
      (void)::unlinkat(::dirfd(folder), entry->d_name, 0);
    }
  }
  ::closedir(folder);
}

// flock has no time-out of its own: it is tried without blocking until the wait is over.
bool lockWithin(int fd, std::chrono::milliseconds wait) {
  const auto giveUp = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

SmallFile readSmallFile(const std::filesystem::path& path, std::size_t limit) {
  SmallFile file;
  // Without blocking: a FIFO in the file's place would otherwise hang every reader, and every
  // writer behind the reader that holds the lock.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    file.state = errno == ENOENT ? SmallFile::State::Missing : SmallFile::State::Unreadable;
    return file;
  }
  // Only a regular file can be ours; a folder, a FIFO or a device (/dev/zero never ends) is not.
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    file.state = SmallFile::State::Unreadable;
    return file;
  }
  file.state = SmallFile::State::TooLarge;
  if (static_cast<std::uintmax_t>(info.st_size) > limit) return file;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      file.state = SmallFile::State::Unreadable;
      file.text.clear();
      return file;
    }
    file.text.append(buffer, static_cast<std::size_t>(n));
    if (file.text.size() > limit) {
      file.text.clear();  // it grew while being read
      return file;
    }
  }
  file.state = SmallFile::State::Read;
  return file;
}

StoredFile::StoredFile(std::filesystem::path path, std::chrono::milliseconds lockWait)
    : path_(std::move(path)), lockPath_(path_.string() + ".lock"), lockWait_(lockWait) {}

StoredFile::Contents StoredFile::read() const {
  SmallFile file = readSmallFile(path_, kMaximumBytes);
  Contents contents;
  contents.text = std::move(file.text);
  switch (file.state) {
    case SmallFile::State::Missing:
      contents.state = State::Missing;
      break;
    case SmallFile::State::Unreadable:
      contents.state = State::Unreadable;
      break;
    case SmallFile::State::Read:
    case SmallFile::State::TooLarge:  // an empty text, which no store accepts: corrupt
      contents.state = State::Read;
      break;
  }
  return contents;
}

bool StoredFile::update(const Change& change) const {
  if (!ensureFolder(path_.parent_path())) return false;
  FileDescriptor lock(::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.get() < 0) return false;
  if (!lockWithin(lock.get(), lockWait_)) return false;
  const Contents current = read();
  if (current.state == State::Unreadable) return false;  // left untouched
  const std::optional<std::string> next = change(current);
  if (!next) return true;
  if (next->size() > kMaximumBytes) return false;  // it would read back as corrupt
  removeStaleTemporaries(path_);
  return writeAtomically(*next);
  // The lock is released when its descriptor closes.
}

bool StoredFile::writeAtomically(const std::string& text) const {
  std::string temporary = path_.string() + std::string(kTemporaryInfix) + "XXXXXX";
  FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));  // mode 0600
  if (fd.get() < 0) return false;
  const bool written = writeAll(fd.get(), text) && ::fsync(fd.get()) == 0;
  const bool closed = ::close(fd.release()) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), path_.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable.
  FileDescriptor folder(::open(path_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) (void)::fsync(folder.get());
  return true;
}

void StoredFile::moveAsideCorrupt() const {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02dT%02d%02d%02d.%03lldZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<long long>(millis));
  const std::string aside = path_.string() + ".corrupt-" + stamp;
  (void)::rename(path_.c_str(), aside.c_str());
}

}  // namespace tidingsbell::standin
