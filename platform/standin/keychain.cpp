#include "platform/standin/keychain.hpp"

#include <simdjson.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/standin/paths.hpp"
#include "platform/standin/text.hpp"

namespace tidingsbell::standin {
namespace {

struct Item {
  std::string service;
  std::string account;
  platform::Bytes data;
};

// nullopt: the text is not a keychain file (corrupt).
std::optional<std::vector<Item>> parseItems(const std::string& text) {
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  if (parser.parse(text).get(root) != simdjson::SUCCESS) return std::nullopt;
  simdjson::dom::array items;
  if (root["items"].get_array().get(items) != simdjson::SUCCESS) return std::nullopt;
  std::vector<Item> parsed;
  for (simdjson::dom::element element : items) {
    std::string_view itemClass, service, account, hex;
    if (element["class"].get_string().get(itemClass) != simdjson::SUCCESS ||
        element["service"].get_string().get(service) != simdjson::SUCCESS ||
        element["account"].get_string().get(account) != simdjson::SUCCESS ||
        element["data"].get_string().get(hex) != simdjson::SUCCESS || itemClass != "genp") {
      return std::nullopt;
    }
    auto data = fromHex(hex);
    if (!data) return std::nullopt;
    parsed.push_back({std::string(service), std::string(account), std::move(*data)});
  }
  return parsed;
}

std::string serialize(const std::vector<Item>& items) {
  std::string text = "{\"items\":[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0) text += ',';
    text += "\n{\"class\":\"genp\",\"service\":" + jsonQuote(items[i].service) +
            ",\"account\":" + jsonQuote(items[i].account) + ",\"data\":\"" + toHex(items[i].data) +
            "\"}";
  }
  text += "]}\n";
  return text;
}

bool matches(const Item& item, const platform::KeychainQuery& query) {
  return (!query.service || item.service == *query.service) &&
         (!query.account || item.account == *query.account);
}

bool isGenericPasswordQuery(const platform::KeychainQuery& query) {
  return query.secClass == platform::SecClass::GenericPassword;
}

}  // namespace

FileKeychain::FileKeychain() : FileKeychain(dataDirectory() / "keychain.json") {}

FileKeychain::FileKeychain(std::filesystem::path file) : file_(std::move(file)) {}

platform::OSStatus FileKeychain::copyMatching(const platform::KeychainQuery& query,
                                              platform::KeychainResult& result) {
  if (!isGenericPasswordQuery(query)) return platform::errSecParam;
  const StoredFile::Contents contents = file_.read();
  if (contents.state == StoredFile::State::Unreadable) return platform::errSecIO;
  if (contents.state == StoredFile::State::Missing) return platform::errSecItemNotFound;
  const auto items = parseItems(contents.text);
  if (!items) return platform::errSecItemNotFound;  // a corrupt file holds no usable item
  const auto found =
      std::find_if(items->begin(), items->end(), [&](const Item& i) { return matches(i, query); });
  if (found == items->end()) return platform::errSecItemNotFound;
  if (query.returnData.value_or(false)) {
    result = found->data;
  } else {
    result = platform::NotData{};
  }
  return platform::errSecSuccess;
}

platform::OSStatus FileKeychain::deleteItem(const platform::KeychainQuery& query) {
  return erase(query, std::nullopt);
}

platform::OSStatus FileKeychain::deleteItemHolding(const platform::KeychainQuery& query,
                                                   const platform::Bytes& value) {
  return erase(query, value);
}

platform::OSStatus FileKeychain::erase(const platform::KeychainQuery& query,
                                       const std::optional<platform::Bytes>& holding) {
  if (!isGenericPasswordQuery(query)) return platform::errSecParam;
  platform::OSStatus status = platform::errSecItemNotFound;
  const bool written =
      file_.update([&](const StoredFile::Contents& current) -> std::optional<std::string> {
        if (current.state == StoredFile::State::Missing) return std::nullopt;
        auto items = parseItems(current.text);
        if (!items) {
          file_.moveAsideCorrupt();
          return std::nullopt;
        }
        const auto removed = std::erase_if(*items, [&](const Item& i) {
          return matches(i, query) && (!holding || i.data == *holding);
        });
        if (removed == 0) return std::nullopt;
        status = platform::errSecSuccess;
        return serialize(*items);
      });
  return written ? status : platform::errSecIO;
}

platform::OSStatus FileKeychain::add(const platform::KeychainQuery& attributes) {
  if (!isGenericPasswordQuery(attributes) || !attributes.service || !attributes.account) {
    return platform::errSecParam;
  }
  platform::OSStatus status = platform::errSecSuccess;
  const bool written =
      file_.update([&](const StoredFile::Contents& current) -> std::optional<std::string> {
        std::vector<Item> items;
        bool corrupt = false;
        if (current.state == StoredFile::State::Read) {
          if (auto parsed = parseItems(current.text)) {
            items = std::move(*parsed);
          } else {
            corrupt = true;  // kept for inspection; this save starts a fresh file
          }
        }
        const bool exists = std::any_of(items.begin(), items.end(),
                                        [&](const Item& i) { return matches(i, attributes); });
        if (exists) {
          status = platform::errSecDuplicateItem;
          return std::nullopt;
        }
        items.push_back({*attributes.service, *attributes.account,
                         attributes.valueData.value_or(platform::Bytes{})});
        std::string text = serialize(items);
        // A name that is not UTF-8, or a file over the size limit, would read back as corrupt:
        // every item lost at the next read, the file moved aside at the next save.
        if (text.size() > StoredFile::kMaximumBytes || !parseItems(text)) {
          status = platform::errSecIO;
          return std::nullopt;
        }
        if (corrupt) file_.moveAsideCorrupt();
        return text;
      });
  return written ? status : platform::errSecIO;
}

platform::OSStatus FileKeychain::update(const platform::KeychainQuery& query,
                                        const platform::KeychainQuery& attributesToUpdate) {
  if (!isGenericPasswordQuery(query) || !attributesToUpdate.valueData ||
      attributesToUpdate.entryCount() != 1) {
    return platform::errSecParam;
  }
  platform::OSStatus status = platform::errSecItemNotFound;
  const bool written =
      file_.update([&](const StoredFile::Contents& current) -> std::optional<std::string> {
        if (current.state == StoredFile::State::Missing) return std::nullopt;
        auto items = parseItems(current.text);
        if (!items) return std::nullopt;  // no item to update; an add starts the file afresh
        bool found = false;
        for (Item& item : *items) {
          if (!matches(item, query)) continue;
          item.data = *attributesToUpdate.valueData;
          found = true;
        }
        if (!found) return std::nullopt;
        std::string text = serialize(*items);
        if (text.size() > StoredFile::kMaximumBytes) {  // it would read back as corrupt
          status = platform::errSecIO;
          return std::nullopt;
        }
        status = platform::errSecSuccess;
        return text;
      });
  return written ? status : platform::errSecIO;
}

}  // namespace tidingsbell::standin
