#include "platform/apple/apple_platform.hpp"
#include "platform/apple/foundation.hpp"

namespace tidingsbell::apple {
namespace {

class DataTask final : public platform::DataTask {
 public:
  explicit DataTask(id task) : task_(Owned::retain(task)) {}
  void resume() override { send<void>(task_.get(), "resume"_sel); }

 private:
  Owned task_;
};

class UrlSession final : public platform::UrlSession {
 public:
  explicit UrlSession(id session) : session_(Owned::retain(session)) {}

  std::shared_ptr<platform::DataTask> dataTask(platform::UrlRequest request,
                                               platform::DataTaskCompletion completion) override {
    id url = makeUrl(request.url);
    id urlRequest = send<id, id, NSUInteger, double>(
        "NSMutableURLRequest"_cls, "requestWithURL:cachePolicy:timeoutInterval:"_sel, url,
        static_cast<NSUInteger>(request.cachePolicy), request.timeoutInterval);
    for (const auto& [field, value] : request.headerFields) {
      const Owned name = makeString(field);
      const Owned content = makeString(value);
      send<void, id, id>(urlRequest, "addValue:forHTTPHeaderField:"_sel, content.get(), name.get());
    }
    const Owned method = makeString(request.httpMethod);
    send<void, id>(urlRequest, "setHTTPMethod:"_sel, method.get());

    // The block captures a plain value: shared ownership of the completion, released with the
    // block once the session has called and dropped it.
    auto held = std::make_shared<platform::DataTaskCompletion>(std::move(completion));
    void (^handler)(id, id, id) = ^(id data, id response, id error) {
      const AutoreleasePool pool;
      std::optional<platform::Bytes> body;
      std::optional<platform::UrlError> failure;
      // A session without a delegate has buffered the whole body by now; an oversized one is
      // refused here, before it is copied.
      if (data != nullptr && send<NSUInteger>(data, "length"_sel) > platform::kMaximumBodyBytes) {
        failure = platform::dataLengthExceedsMaximumError();
      } else if (data != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(send<const void*>(data, "bytes"_sel));
        body = platform::Bytes(bytes, bytes + send<NSUInteger>(data, "length"_sel));
      }
      std::optional<platform::UrlResponse> status;
      if (isKindOf(response, "NSHTTPURLResponse"_cls)) {
        status = platform::UrlResponse{send<NSInteger>(response, "statusCode"_sel)};
      }
      if (error != nullptr) {
        failure =
            platform::UrlError{toString(send(error, "description"_sel)).value_or(std::string())};
      }
      (*held)(std::move(body), status, std::move(failure));
    };
    id task = send<id, id, void (^)(id, id, id)>(
        session_.get(), "dataTaskWithRequest:completionHandler:"_sel, urlRequest, handler);
    return std::make_shared<DataTask>(task);
  }

  void finishTasksAndInvalidate() override {
    send<void>(session_.get(), "finishTasksAndInvalidate"_sel);
  }

 private:
  Owned session_;
};

}  // namespace

platform::SessionConfiguration UrlSessionFactory::defaultSessionConfiguration() {
  return platform::SessionConfiguration{};  // the values are applied to the real one below
}

std::shared_ptr<platform::UrlSession> UrlSessionFactory::sessionWithConfiguration(
    const platform::SessionConfiguration& configuration) {
  id real = send("NSURLSessionConfiguration"_cls, "defaultSessionConfiguration"_sel);
  send<void, NSUInteger>(real, "setRequestCachePolicy:"_sel,
                         static_cast<NSUInteger>(configuration.requestCachePolicy));
  if (!configuration.hasUrlCache) send<void, id>(real, "setURLCache:"_sel, nullptr);
  send<void, double>(real, "setTimeoutIntervalForResource:"_sel,
                     configuration.timeoutIntervalForResource);  // NSTimeInterval
  // No delegate and no delegate queue: completions run on the session's own serial queue.
  id session = send<id, id>("NSURLSession"_cls, "sessionWithConfiguration:"_sel, real);
  return std::make_shared<UrlSession>(session);
}

}  // namespace tidingsbell::apple
