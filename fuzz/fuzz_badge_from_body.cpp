// Any answer body must give exactly one handler call with "" or a plain decimal count, and
// never crash or hang.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "extension/PollNotifications.hpp"
#include "platform/standin/json.hpp"

namespace {

class DiscardOutput final : public tidingsbell::platform::StandardOutput {
 public:
  void write(std::string_view) override {}
};

// "" or a plain decimal count: digits alone, with no leading zero.
bool isBadgeText(const std::string& text) {
  return text.empty() ||
         (text[0] != '0' && text.find_first_not_of("0123456789") == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tidingsbell::standin::SimdjsonReader json;
  DiscardOutput out;
  int calls = 0;
  bool wellFormed = true;
  const tidingsbell::ValidationHandler handler = [&](bool enabled, std::string text) {
    ++calls;
    wellFormed = wellFormed && enabled && isBadgeText(text);
  };
  tidingsbell::handleNotificationsResponse(json, out, handler,
                                           tidingsbell::platform::Bytes(data, data + size),
                                           tidingsbell::platform::UrlResponse{200}, std::nullopt);
  if (calls != 1 || !wellFormed) std::abort();
  return 0;
}
