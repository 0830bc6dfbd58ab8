#include "extension/PageMessageLog.hpp"

#include <utility>

namespace tidingsbell {
namespace {

struct ValueDescription {
  std::string& out;
  void operator()(const std::string& text) const { out += text; }
  void operator()(const platform::UserInfoNumber& number) const { out += number.written; }
  void operator()(bool value) const { out += value ? "1" : "0"; }
  void operator()(const platform::UserInfoNull&) const { out += "<null>"; }
  void operator()(const platform::UserInfoCompound& compound) const { out += compound.compactJson; }
};

}  // namespace

std::string pageMessageLine(const std::string& name,
                            const std::optional<platform::SafariPageProperties>& properties,
                            const std::optional<platform::UserInfo>& userInfo) {
  std::string line = "The extension received a message (";
  line += name;
  line += ") from a script injected into (";
  if (properties && properties->url) {
    line += "Optional(" + properties->url->absoluteString + ")";
  } else {
    line += "nil";
  }
  line += ") with userInfo (";
  if (!userInfo || userInfo->empty()) {
    line += "[:]";
  } else {
    line += '[';
    bool first = true;
    for (const auto& [key, value] : *userInfo) {
      if (!first) line += ", ";
      first = false;
      line += '"' + key + "\": ";
      std::visit(ValueDescription{line}, value);
    }
    line += ']';
  }
  line += ')';
  return line;
}

void logPageMessage(const ExtensionPlatform& platform, std::string name, platform::SafariPage& page,
                    std::optional<platform::UserInfo> userInfo) {
  page.getPageProperties(
      [&log = platform.systemLog, name = std::move(name),
       userInfo = std::move(userInfo)](std::optional<platform::SafariPageProperties> properties) {
        log.log(pageMessageLine(name, properties, userInfo));
      });
}

}  // namespace tidingsbell
