#include "platform/apple/apple_platform.hpp"

namespace tidingsbell::apple {

platform::JsonSummary JsonReader::summarize(const platform::Bytes& data) {
  const AutoreleasePool pool;
  // The bytes are only read during the call, so no copy is made.
  id bytes = send<id, const void*, NSUInteger, BOOL>(
      "NSData"_cls, "dataWithBytesNoCopy:length:freeWhenDone:"_sel,
      data.empty() ? nullptr : data.data(), data.size(), NO);
  id error = nullptr;
  id object = send<id, id, NSUInteger, id*>(
      "NSJSONSerialization"_cls, "JSONObjectWithData:options:error:"_sel, bytes, 0, &error);
  if (object == nullptr) {
    return platform::JsonParseError{
        toString(send(error, "localizedDescription"_sel)).value_or(std::string())};
  }
  if (isKindOf(object, "NSArray"_cls)) {
    platform::JsonArraySummary summary;
    summary.elementCount = send<NSUInteger>(object, "count"_sel);
    for (NSUInteger i = 0; i < summary.elementCount && summary.everyElementIsObject; ++i) {
      id element = send<id, NSUInteger>(object, "objectAtIndex:"_sel, i);
      summary.everyElementIsObject = isKindOf(element, "NSDictionary"_cls);
    }
    return summary;
  }
  return platform::JsonObjectSummary{send<NSUInteger>(object, "count"_sel)};
}

}  // namespace tidingsbell::apple
