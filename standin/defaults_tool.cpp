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

// The number written with exactly `count` digits at `at`, nothing else (no sign, no space).
std::optional<int> digitsAt(std::string_view text, std::size_t at, std::size_t count) {
  if (text.size() < at + count) return std::nullopt;
  int number = 0;
  for (const char c : text.substr(at, count)) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  return number;
}

bool isLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// 0001-01-01T00:00:00Z and 10000-01-01T00:00:00Z in seconds since 1970.
constexpr double kFirstIsoSecond = -62135596800.0;
constexpr double kPastLastIsoSecond = 253402300800.0;

// YYYY-MM-DDTHH:MM:SS with an optional fraction and Z or ±HH:MM (at most 23:59), every field
// its digits alone, and a day the month has: a date that does not exist (a 60th second, a year
// 0000) is refused, not moved to one that does. So is one that falls outside the years 0001 to
// 9999 once its offset is applied, which `read` could show only as seconds.
std::optional<platform::Date> parseIso8601(std::string_view text) {
  if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':') {
    return std::nullopt;
  }
  const auto year = digitsAt(text, 0, 4), month = digitsAt(text, 5, 2), day = digitsAt(text, 8, 2),
             hour = digitsAt(text, 11, 2), minute = digitsAt(text, 14, 2),
             second = digitsAt(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (*year < 1 || *month < 1 || *month > 12 || *hour > 23 || *minute > 59 || *second > 59) {
    return std::nullopt;
  }
  const int days = kDaysInMonth[*month - 1] + (*month == 2 && isLeapYear(*year) ? 1 : 0);
  if (*day < 1 || *day > days) return std::nullopt;
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
    const auto offsetHours = digitsAt(rest, 1, 2), offsetMinutes = digitsAt(rest, 4, 2);
    if (!offsetHours || !offsetMinutes || *offsetHours > 23 || *offsetMinutes > 59) {
      return std::nullopt;
    }
    offset = (*offsetHours * 3600L + *offsetMinutes * 60L) * (rest[0] == '-' ? -1 : 1);
  } else {
    return std::nullopt;
  }
  std::tm utc{};
  utc.tm_year = *year - 1900;
  utc.tm_mon = *month - 1;
  utc.tm_mday = *day;
  utc.tm_hour = *hour;
  utc.tm_min = *minute;
  utc.tm_sec = *second;
  const std::time_t seconds = timegm(&utc);
  const double since1970 = static_cast<double>(seconds - offset) + fraction;
  if (since1970 < kFirstIsoSecond || since1970 >= kPastLastIsoSecond) return std::nullopt;
  return platform::Date(platform::Seconds(since1970));
}

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
  if (auto status = standin::answerStandardOption(kProgram, argc, argv)) return *status;
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
    return standin::outputStatus(kProgram);
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
    // Refused too: a key or string that is not UTF-8, a domain that would pass 1 MiB.
    return defaults.set(value, key)
               ? 0
               : fail("could not save the value in " + defaults.path().string());
  }
  if (!defaults.objectForKey(key)) {
    return fail("the key " + key + " does not exist in the domain " + domain);
  }
  return defaults.remove(key) ? 0 : fail("could not write " + defaults.path().string());
}
