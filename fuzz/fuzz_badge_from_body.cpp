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

bool isBadgeText(const std::string& text) {
  if (text.empty()) return true;
  if (text[0] == '0') return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tidingsbell::standin::SimdjsonReader json;  // its parser kept warm, as in the product
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
