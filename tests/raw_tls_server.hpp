#pragma once
// A TLS server on loopback that keeps each request's bytes exactly as they came, for checks that
// an HTTP library's parsing would blur (such as trailing spaces in a header), and answers as a
// server library would not: never, by hanging up, or a byte at a time. One request a connection.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "standin/certificates.hpp"

namespace tidingsbell::testing {

class RawTlsServer {
 public:
  static constexpr const char* kNeverAnswer = "<never answer>";  // "": close without answering
  // An answer that never ends: a byte of its body every 20 ms, for 10 s at most.
  static constexpr const char* kTrickle = "<trickle>";

  RawTlsServer(const standin::CertificatePaths& certificates, std::string answer)
      : answer_(std::move(answer)) {
    ::signal(SIGPIPE, SIG_IGN);  // a client may hang up in the middle of a long answer
    context_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_file(context_, certificates.serverCertificate.c_str(),
                                 SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(context_, certificates.serverKey.c_str(), SSL_FILETYPE_PEM);
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 4);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  RawTlsServer(const RawTlsServer&) = delete;
  RawTlsServer& operator=(const RawTlsServer&) = delete;
  ~RawTlsServer() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
    SSL_CTX_free(context_);
  }
  [[nodiscard]] int port() const { return port_; }
  // The requests as received.
  std::vector<std::string> requests() {
    const std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void serve() {
    for (int client; (client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
      SSL* ssl = SSL_new(context_);
      SSL_set_fd(ssl, client);
      if (SSL_accept(ssl) == 1) {
        answerOne(ssl);
        SSL_shutdown(ssl);
      }
      SSL_free(ssl);
      ::close(client);
    }
  }
  void answerOne(SSL* ssl) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const int n = SSL_read(ssl, buffer, sizeof buffer);
      if (n <= 0) return;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    {
      const std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    if (answer_ == kTrickle) {
      const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n[";
      bool open = SSL_write(ssl, head.data(), static_cast<int>(head.size())) > 0;
      for (int i = 0; open && i < 500; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        open = SSL_write(ssl, " ", 1) > 0;
      }
      return;
    }
    if (answer_ == kNeverAnswer ||
        (!answer_.empty() &&
         SSL_write(ssl, answer_.data(), static_cast<int>(answer_.size())) > 0)) {
      while (SSL_read(ssl, buffer, sizeof buffer) > 0) {
      }  // until the client hangs up
    }
  }

  std::string answer_;
  SSL_CTX* context_ = nullptr;
  int listener_ = -1;
  int port_ = 0;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace tidingsbell::testing
