#include "platform/standin/user_defaults.hpp"

#include <simdjson.h>

#include <cmath>

#include "platform/standin/paths.hpp"
#include "platform/standin/text.hpp"

namespace tidingsbell::standin {
FileUserDefaults::FileUserDefaults(const std::string& domain)
    : FileUserDefaults(domainFile(domain)) {}

FileUserDefaults::FileUserDefaults(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path FileUserDefaults::domainFile(const std::string& domain) {
  return dataDirectory() / "defaults" / (domain + ".json");
}

std::optional<FileUserDefaults::Values> FileUserDefaults::parse(const std::string& text) {
  simdjson::dom::parser parser;
  simdjson::dom::object root;
  if (parser.parse(text).get_object().get(root) != simdjson::SUCCESS) return std::nullopt;
  Values values;
  for (auto [key, entry] : root) {
    simdjson::dom::object typed;
    if (entry.get_object().get(typed) != simdjson::SUCCESS || typed.size() != 1)
      return std::nullopt;
    auto [type, value] = *typed.begin();
    if (type == "date") {
      double seconds = 0;
      if (value.get_double().get(seconds) != simdjson::SUCCESS) return std::nullopt;
      values[std::string(key)] = platform::Date(platform::Seconds(seconds));
    } else if (type == "string") {
      std::string_view text_value;
      if (value.get_string().get(text_value) != simdjson::SUCCESS) return std::nullopt;
      values[std::string(key)] = std::string(text_value);
    } else if (type == "int") {
      std::int64_t number = 0;
      if (value.get_int64().get(number) != simdjson::SUCCESS) return std::nullopt;
      values[std::string(key)] = number;
    } else {
      return std::nullopt;
    }
  }
  return values;
}

std::string FileUserDefaults::serialize(const Values& values) {
  std::string text = "{";
  bool first = true;
  for (const auto& [key, value] : values) {
    std::string entry;
    if (const auto* date = std::get_if<platform::Date>(&value)) {
      entry = "{\"date\":" + formatDouble(date->time_since_epoch().count()) + "}";
    } else if (const auto* string = std::get_if<std::string>(&value)) {
      entry = "{\"string\":" + jsonQuote(*string) + "}";
    } else if (const auto* number = std::get_if<std::int64_t>(&value)) {
      entry = "{\"int\":" + std::to_string(*number) + "}";
    } else {
      continue;  // the stand-in stores no other kind
    }
    text += first ? "\n" : ",\n";
    first = false;
    text += jsonQuote(key) + ":" + entry;
  }
  text += "\n}\n";
  return text;
}

std::optional<platform::PropertyListValue> FileUserDefaults::objectForKey(std::string_view key) {
  const std::lock_guard lock(mutex_);
  if (const auto kept = unsaved_.find(key); kept != unsaved_.end()) return kept->second;
  const StoredFile::Contents contents = file_.read();
  // A corrupt or unreadable file reads as empty; it is moved aside at the next write.
  if (contents.state != StoredFile::State::Read) return std::nullopt;
  const Values values = parse(contents.text).value_or(Values{});
  const auto found = values.find(key);
  if (found == values.end()) return std::nullopt;
  return found->second;
}

// The reader's own test: a text it would refuse (a key or string that is not UTF-8, a file over
// the size limit) is never written, for it would cost every key of the domain.
bool FileUserDefaults::readable(const std::string& text) {
  return text.size() <= StoredFile::kMaximumBytes && parse(text).has_value();
}

bool FileUserDefaults::change(std::string_view key,
                              const std::optional<platform::PropertyListValue>& value) {
  // A change that can never be saved is refused outright, and not kept in memory: it would go
  // out with, and fail, every later change.
  if (value && !readable(serialize(Values{{std::string(key), *value}}))) return false;
  const std::lock_guard lock(mutex_);
  // What this process could not save before goes out with this change.
  auto pending = unsaved_;
  pending[std::string(key)] = value;
  bool refused = false;
  const bool saved =
      file_.update([&](const StoredFile::Contents& current) -> std::optional<std::string> {
        Values values;
        bool corrupt = false;
        if (current.state == StoredFile::State::Read) {
          if (auto parsed = parse(current.text)) {
            values = std::move(*parsed);
          } else {
            corrupt = true;
          }
        }
        for (const auto& [name, kept] : pending) {
          if (kept) {
            values[name] = *kept;
          } else {
            values.erase(name);
          }
        }
        std::string text = serialize(values);
        if (!readable(text)) {  // the domain as a whole would pass the size limit
          refused = true;
          return std::nullopt;
        }
        if (corrupt) file_.moveAsideCorrupt();
        return text;
      });
  // A domain too full to take the change is a state of the disk, like a full one: the change is
  // kept, so that the extension's throttle holds, and goes out once the domain has room.
  if (refused) {
    unsaved_ = std::move(pending);
    return false;
  }
  if (saved) {
    unsaved_.clear();
  } else {
    unsaved_ = std::move(pending);
  }
  return saved;
}

void FileUserDefaults::setObject(platform::Date value, std::string_view key) {
  (void)set(value, key);  // the platform's setter reports nothing either
}

bool FileUserDefaults::set(const platform::PropertyListValue& value, std::string_view key) {
  if (const auto* date = std::get_if<platform::Date>(&value);
      date != nullptr && !std::isfinite(date->time_since_epoch().count())) {
    return false;
  }
  return change(key, value);
}

bool FileUserDefaults::remove(std::string_view key) {
  return change(key, std::nullopt);
}

}  // namespace tidingsbell::standin
