// Feeds arbitrary bytes as one HTTP request through the waiting room's look at a request,
// through the decoders the listener uses, and through its request handling on a socketpair:
// once to an echoing handler and once to the quote server's handler over an empty table.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/error_report.h"
#include "http_listener.h"
#include "streaming/quote_server.h"
#include "url_coding.h"

using namespace vn::net;

namespace {

TWinshoeHTTPListener& Listener() {
  static TWinshoeHTTPListener* listener = [] {
    auto* l = new TWinshoeHTTPListener();
    l->ServerSoftware = "Vantora";
    l->RequestTimeout = std::chrono::milliseconds(1000);
    l->HostCheck = [](const std::string& host) { return IsLoopbackHost(host); };
    l->OnCommandGet = [](TWinshoeServerThread*, THTTPRequestInfo& rq, THTTPResponseInfo& rs) {
      const std::string doc = DecodeUrl(UpperCaseAscii(rq.Document));
      if (doc != "/REQ") {
        rs.SetResponseNo(404);
        return;
      }
      std::string text = "<PRE>" + rq.UnparsedParams + rq.AuthUsername + rq.AuthPassword + "</PRE>";
      for (const auto& p : rq.Params) text += p;
      rs.ContentLength = static_cast<int64_t>(text.size());
      rs.WriteHeader();
      rs.Connection->Write(text);
    };
    return l;
  }();
  return *listener;
}

// The quote server's own listener and handler; the server stays switched off.
TWinshoeHTTPListener& QuoteListener() {
  static VNServer* server = [] {
    SuppressErrorDialogs(true);
    auto* s = new VNServer();
    s->Listener().RequestTimeout = std::chrono::milliseconds(1000);
    return s;
  }();
  return server->Listener();
}

// The waiting room's look at the first bytes of a request.
struct ArrivalProbe : TWinshoeHTTPListener {
  using TWinshoeHTTPListener::RequestArrived;
};

void Serve(TWinshoeHTTPListener& listener, const uint8_t* data, size_t size) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return;
  int bufSize = 1 << 20;
  ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &bufSize, sizeof bufSize);
  ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &bufSize, sizeof bufSize);
  size_t sent = 0;
  while (sent < size) {
    const ssize_t n = ::send(fds[1], data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  ::shutdown(fds[1], SHUT_WR);

  TWinshoeSocket connection;
  connection.SetHandle(fds[0]);
  listener.ServeRequest(connection, nullptr);

  char sink[8192];
  while (::recv(fds[1], sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
  ::close(fds[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  (void)DecodeUrl(input);
  (void)HasValidEscapes(input);
  (void)IsLoopbackHost(input);
  (void)HtmlEscape(input);
  try {
    (void)DecodeBase64(input);
  } catch (const EWinshoeException&) {
  }
  try {
    (void)DecodeQueryParams(input);
  } catch (const EWinshoeException&) {
  }

  static const ArrivalProbe* probe = new ArrivalProbe();
  (void)probe->RequestArrived(input.substr(0, 8192));

  if (size > 150000) return 0;  // stays within the socket buffers
  Serve(Listener(), data, size);
  Serve(QuoteListener(), data, size);
  return 0;
}
