#pragma once
// A small data file shared by several processes: read without a lock (every change replaces it
// whole by a rename, so a reader sees one version or the other, never a torn file), changed
// under an exclusive lock on a separate lock file (the rename gives the data file a new inode,
// so a lock on it would guard nothing).

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tidingsbell::standin {

// A small file read without ever blocking: anything but a regular file (a FIFO, a device, a
// folder) is Unreadable, and one larger than `limit` bytes is TooLarge, its text left empty.
struct SmallFile {
  enum class State { Missing, Read, Unreadable, TooLarge };
  State state = State::Missing;
  std::string text;
};
SmallFile readSmallFile(const std::filesystem::path& path, std::size_t limit);

class StoredFile {
 public:
  enum class State { Missing, Read, Unreadable };
  struct Contents {
    State state = State::Missing;
    std::string text;
  };

  // Larger than any store of ours could grow: a file this large is not one, whatever it holds,
  // so no change may write one.
  static constexpr std::size_t kMaximumBytes = 1024 * 1024;

  // How long a change waits for another process's: far longer than any change takes, and short
  // enough that a process stopped while it holds the lock costs the others a failed change (which
  // each store handles as a full disk), never a hang.
  static constexpr std::chrono::milliseconds kLockWait{5000};

  // The file's folder is created (mode 0700) when the first change is written. A change is on
  // the disk, the rename included, before update() returns.
  explicit StoredFile(std::filesystem::path path, std::chrono::milliseconds lockWait = kLockWait);

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  // Never blocks: anything but a regular file is Unreadable, and a regular file too large to be
  // a store of ours reads as an empty text.
  [[nodiscard]] Contents read() const;

  // Under the lock: reads the current contents and asks `change` for the new text; nullopt keeps
  // the file as it is. Returns false when the lock (within lockWait), the folder or the write
  // failed, or when the
  // new text is over kMaximumBytes (nothing is written then). The caller refuses, before it
  // returns a text, whatever its own reader would refuse.
  using Change = std::function<std::optional<std::string>(const Contents& current)>;
  bool update(const Change& change) const;

  // Renames the file aside to a name that says it is corrupt, with a time stamp. Call it from
  // inside `update`, which holds the lock.
  void moveAsideCorrupt() const;

 private:
  bool writeAtomically(const std::string& text) const;

  std::filesystem::path path_;
  std::filesystem::path lockPath_;
  std::chrono::milliseconds lockWait_;
};

}  // namespace tidingsbell::standin
