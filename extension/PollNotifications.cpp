#include "extension/PollNotifications.hpp"

#include <utility>
#include <variant>

namespace tidingsbell {

std::string badgeText(std::size_t count) {
  return count == 0 ? std::string() : std::to_string(count);
}

void pollNotifications(const ExtensionPlatform& platform, std::string token,
                       ValidationHandler handler) {
  auto url = platform.urls.urlWithString(kNotificationsApiUrl);
  if (!url) {
    handler(true, "");
    return;
  }
  platform::UrlRequest request;
  request.url = std::move(*url);
  request.cachePolicy = platform::NSURLRequestUseProtocolCachePolicy;
  request.timeoutInterval = kPollTimeoutSeconds;
  request.addValue("Bearer " + token, "Authorization");
  request.httpMethod = "GET";

  platform::SessionConfiguration configuration = platform.sessions.defaultSessionConfiguration();
  configuration.requestCachePolicy = platform::NSURLRequestReloadIgnoringLocalCacheData;
  configuration.hasUrlCache = false;
  configuration.timeoutIntervalForResource = kPollLifetimeSeconds;

  auto session = platform.sessions.sessionWithConfiguration(configuration);
  // The completion holds the handler and the two sinks it writes to, never the extension handler.
  auto task = session->dataTask(
      std::move(request),
      [&json = platform.json, &out = platform.standardOutput, handler = std::move(handler)](
          std::optional<platform::Bytes> body, std::optional<platform::UrlResponse> response,
          std::optional<platform::UrlError> error) {
        handleNotificationsResponse(json, out, handler, body, response, error);
      });
  task->resume();
  // An un-invalidated session lives until the process ends; this one frees itself once its
  // task has completed.
  session->finishTasksAndInvalidate();
}

void handleNotificationsResponse(platform::JsonReader& json, platform::StandardOutput& out,
                                 const ValidationHandler& handler,
                                 const std::optional<platform::Bytes>& body,
                                 const std::optional<platform::UrlResponse>& response,
                                 const std::optional<platform::UrlError>& error) {
  if (error) {
    handler(true, "");
    out.write(error->description + "\n");
    return;
  }
  // An error answer's body (GitHub's is an object) would otherwise show as a count.
  if (response && (response->statusCode < 200 || response->statusCode > 299)) {
    handler(true, "");
    out.write("Request failed with HTTP status " + std::to_string(response->statusCode) + "\n");
    return;
  }
  if (!body) {
    handler(true, "");
    return;
  }
  const platform::JsonSummary summary = json.summarize(*body);
  if (const auto* parseError = std::get_if<platform::JsonParseError>(&summary)) {
    handler(true, "");
    out.write("Could not parse data with error: " + parseError->localizedDescription + "\n");
    return;
  }
  if (const auto* array = std::get_if<platform::JsonArraySummary>(&summary)) {
    handler(true, array->everyElementIsObject ? badgeText(array->elementCount) : std::string());
    return;
  }
  handler(true, badgeText(std::get<platform::JsonObjectSummary>(summary).distinctKeyCount));
}

}  // namespace tidingsbell
