#pragma once
// The stand-in user defaults: one file per domain, read afresh for every key, so that a change
// another process (the defaults tool) made is seen at once. A change that cannot be written (a
// full disk, a folder that cannot be made) is kept in memory for the life of the process, as the
// platform's defaults keep it, and goes out with the next change that can be written; so is one
// refused because the domain as a whole would pass the size limit. A change the file could never
// hold (a key or string that is not UTF-8, a value over the size limit on its own) is refused and
// not kept.

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/standin/stored_file.hpp"
#include "platform/user_defaults.hpp"

namespace tidingsbell::standin {

inline constexpr const char* kExtensionDefaultsDomain = "com.marblequail.Tidingsbell.Extension";

class FileUserDefaults final : public platform::UserDefaults {
 public:
  using Values = std::map<std::string, platform::PropertyListValue, std::less<>>;

  explicit FileUserDefaults(const std::string& domain);  // under dataDirectory()/defaults
  explicit FileUserDefaults(std::filesystem::path file);

  std::optional<platform::PropertyListValue> objectForKey(std::string_view key) override;
  void setObject(platform::Date value, std::string_view key) override;
  // For the defaults tool: false when the change could not be written. A date that is not a
  // finite number, a key or string that is not UTF-8, or a domain that would pass the size limit
  // is refused: it has no form in the file.
  bool set(const platform::PropertyListValue& value, std::string_view key);
  bool remove(std::string_view key);

  [[nodiscard]] const std::filesystem::path& path() const { return file_.path(); }

  static std::filesystem::path domainFile(const std::string& domain);
  // nullopt: not a defaults file.
  static std::optional<Values> parse(const std::string& text);
  static std::string serialize(const Values& values);

 private:
  static bool readable(const std::string& text);
  // Sets the key, or removes it for nullopt.
  bool change(std::string_view key, const std::optional<platform::PropertyListValue>& value);

  StoredFile file_;
  std::mutex mutex_;
  std::map<std::string, std::optional<platform::PropertyListValue>, std::less<>> unsaved_;
};

}  // namespace tidingsbell::standin
