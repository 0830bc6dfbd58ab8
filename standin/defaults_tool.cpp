// tidingsbell-defaults: reads and writes the stand-in user defaults, as the platform's defaults
// tool does the real ones.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/standin/text.hpp"
#include "platform/standin/user_defaults.hpp"
#include "standin/command_line.hpp"

namespace {

using namespace tidingsbell;

int fail(const std::string& message) {
  std::fprintf(stderr, "tidingsbell-defaults: %s\n", message.c_str());
  return 1;
}

constexpr standin::Program kProgram{
    "tidingsbell-defaults",
    "tidingsbell-defaults read DOMAIN KEY\n"
    "       tidingsbell-defaults write DOMAIN KEY (-date ISO-8601 | -string TEXT | -int N)\n"
    "       tidingsbell-defaults delete DOMAIN KEY",
    "Reads and writes the stand-in user defaults, one typed value per key."};

int usage(const std::string& problem) {
  return standin::usageError(kProgram, problem);
}

// YYYY-MM-DDTHH:MM:SS with an optional fraction and Z or ±HH:MM.
std::optional<platform::Date> parseIso8601(std::string_view text) {
  int year, month, day, hour, minute, second, consumed = 0;
  const std::string owned(text);
  if (std::sscanf(owned.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute,
                  &second, &consumed) != 6 ||
      consumed != 19) {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return std::nullopt;
  }
  std::string_view rest = text.substr(19);
  double fraction = 0;
  if (!rest.empty() && rest[0] == '.') {
    std::size_t digits = 1;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == 1) return std::nullopt;
    fraction = std::stod("0" + std::string(rest.substr(0, digits)));
    rest.remove_prefix(digits);
  }
  long offset = 0;
  if (rest == "Z") {
  } else if (rest.size() == 6 && (rest[0] == '+' || rest[0] == '-') && rest[3] == ':') {
    int offsetHours = 0, offsetMinutes = 0;
    if (std::sscanf(std::string(rest).c_str() + 1, "%2d:%2d", &offsetHours, &offsetMinutes) != 2) {
      return std::nullopt;
    }
    offset = (offsetHours * 3600L + offsetMinutes * 60L) * (rest[0] == '-' ? -1 : 1);
  } else {
    return std::nullopt;
  }
  std::tm utc{};
  utc.tm_year = year - 1900;
  utc.tm_mon = month - 1;
  utc.tm_mday = day;
  utc.tm_hour = hour;
  utc.tm_min = minute;
  utc.tm_sec = second;
  const std::time_t seconds = timegm(&utc);
  return platform::Date(platform::Seconds(static_cast<double>(seconds - offset) + fraction));
}

// 0001-01-01T00:00:00Z and 10000-01-01T00:00:00Z in seconds since 1970.
constexpr double kFirstIsoSecond = -62135596800.0;
constexpr double kPastLastIsoSecond = 253402300800.0;

// A date outside the years 0001 to 9999 has no four-digit year: it is shown as its seconds since
// 1970 instead, as in "1e+300s".
std::string formatIso8601(platform::Date date) {
  const double since1970 = date.time_since_epoch().count();
  if (!(since1970 >= kFirstIsoSecond && since1970 < kPastLastIsoSecond)) {
    return standin::formatDouble(since1970) + "s";
  }
  const auto seconds = static_cast<std::time_t>(std::floor(since1970));
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];  // room for any int the fields could hold
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage("missing command");
  if (auto status = standin::answerStandardOption(kProgram, argv[1])) return *status;
  const std::string_view command = argv[1];
  const int wanted = command == "write" ? 6 : command == "read" || command == "delete" ? 4 : 0;
  if (wanted == 0) return usage("unknown command " + std::string(command));
  if (argc != wanted) return usage(argc < wanted ? "missing argument" : "too many arguments");
  const std::string domain = argv[2];
  const std::string key = argv[3];
  if (domain.empty() || domain.find('/') != std::string::npos || domain[0] == '.') {
    return usage("not a domain name: " + domain);
  }
  standin::FileUserDefaults defaults(domain);

  if (command == "read") {
    const auto value = defaults.objectForKey(key);
    if (!value) return fail("the key " + key + " does not exist in the domain " + domain);
    if (const auto* date = std::get_if<platform::Date>(&*value)) {
      std::printf("date %s\n", formatIso8601(*date).c_str());
    } else if (const auto* text = std::get_if<std::string>(&*value)) {
      std::printf("string %s\n", standin::jsonQuote(*text).c_str());
    } else if (const auto* number = std::get_if<std::int64_t>(&*value)) {
      std::printf("int %lld\n", static_cast<long long>(*number));
    } else {
      return fail("the value of " + key + " is of a kind this tool does not show");
    }
    return 0;
  }
  if (command == "write") {
    const std::string_view type = argv[4];
    const std::string_view text = argv[5];
    platform::PropertyListValue value;
    if (type == "-date") {
      const auto date = parseIso8601(text);
      if (!date) return usage("not an ISO-8601 date: " + std::string(text));
      value = *date;
    } else if (type == "-string") {
      value = std::string(text);
    } else if (type == "-int") {
      std::int64_t number = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
      if (error != std::errc() || end != text.data() + text.size()) {
        return usage("not a whole number: " + std::string(text));
      }
      value = number;
    } else {
      return usage("unknown type " + std::string(type));
    }
    return defaults.set(value, key) ? 0 : fail("could not write " + defaults.path().string());
  }
  if (!defaults.objectForKey(key)) {
    return fail("the key " + key + " does not exist in the domain " + domain);
  }
  return defaults.remove(key) ? 0 : fail("could not write " + defaults.path().string());
}
