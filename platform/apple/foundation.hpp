#pragma once
// Foundation values that several seam files make or read: dates and URLs.

#include "platform/apple/objc.hpp"
#include "platform/date.hpp"
#include "platform/url.hpp"

namespace tidingsbell::apple {

inline platform::Date dateFrom(id date) {
  return platform::Date(platform::Seconds(send<double>(date, "timeIntervalSince1970"_sel)));
}

inline id makeDate(platform::Date date) {  // autoreleased
  return send<id, double>("NSDate"_cls, "dateWithTimeIntervalSince1970:"_sel,
                          date.time_since_epoch().count());
}

inline id makeUrl(const platform::Url& url) {  // autoreleased; nil when NSURL refuses the text
  const Owned text = makeString(url.absoluteString);
  return send<id, id>("NSURL"_cls, "URLWithString:"_sel, text.get());
}

}  // namespace tidingsbell::apple
