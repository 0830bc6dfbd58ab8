#include "platform/apple/apple_platform.hpp"

namespace tidingsbell::apple {

platform::JsonSummary JsonReader::summarize(const platform::Bytes& data) {
  const AutoreleasePool pool;
  // The bytes are only read during the call, so no copy is made.
  id bytes = send<id, const void*, NSUInteger, BOOL>(
      cls("NSData"),
      "dataWithBytesNoCopy:length:freeWhenDone:", data.empty() ? nullptr : data.data(), data.size(),
      NO);
  id error = nullptr;
  id object = send<id, id, NSUInteger, id*>(cls("NSJSONSerialization"),
                                            "JSONObjectWithData:options:error:", bytes, 0, &error);
  if (object == nullptr) {
    return platform::JsonParseError{
        toString(send(error, "localizedDescription")).value_or(std::string())};
  }
  if (isKindOf(object, "NSArray")) {
    platform::JsonArraySummary summary;
    summary.elementCount = send<NSUInteger>(object, "count");
    for (NSUInteger i = 0; i < summary.elementCount && summary.everyElementIsObject; ++i) {
      id element = send<id, NSUInteger>(object, "objectAtIndex:", i);
      summary.everyElementIsObject = isKindOf(element, "NSDictionary");
    }
    return summary;
  }
  return platform::JsonObjectSummary{send<NSUInteger>(object, "count")};
}

}  // namespace tidingsbell::apple
