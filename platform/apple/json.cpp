#include "platform/apple/apple_platform.hpp"

namespace tidingsbell::apple {

platform::JsonSummary JsonReader::summarize(const platform::Bytes& data) {
  const AutoreleasePool pool;
  // The bytes are only read during the call, so no copy is made. NSData takes them as void*, as
  // its declaration has it, and an immutable NSData never writes to them.
  void* start = data.empty() ? nullptr : const_cast<std::uint8_t*>(data.data());
  id bytes = send<id, void*, NSUInteger, BOOL>(
      "NSData"_cls, "dataWithBytesNoCopy:length:freeWhenDone:"_sel, start, data.size(), NO);
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
