#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "http_records.h"
#include "listener.h"

namespace vn::net {

// A minimal HTTP/1.0 server: one request per connection, handed to OnCommandGet.
// Malformed or oversized requests are answered with 400 and closed before any handler runs.
class TWinshoeHTTPListener : public TWinshoeListener {
 public:
  TWinshoeHTTPListener();
  ~TWinshoeHTTPListener() override;

  std::string ServerSoftware;  // sent as "Server" when not blank

  std::function<void(TWinshoeServerThread*, THTTPRequestInfo&, THTTPResponseInfo&)> OnCommandGet;
  std::function<void(TWinshoeServerThread*, const std::string& command,
                     const std::string& version, const std::string& document)>
      OnCommandOther;
  // Called with the Host header when the request has one; false refuses it with 403.
  std::function<bool(const std::string& host)> HostCheck;

  // The request head must arrive within RequestTimeout of the connection; the handler's reply
  // must then be taken within ReplyTimeout.
  std::chrono::milliseconds RequestTimeout{10000};
  std::chrono::milliseconds ReplyTimeout{30000};
  size_t MaxRequestLine = 8192;
  // A query to this document (any case; empty = none) may be up to MaxLongQuery bytes, the
  // same whether it follows "?" in the request line or is a POST body's first line (line end
  // not counted): it can name thousands of symbols. Every other query is held to the request
  // line's limit. A query longer than that is not decoded into Params.
  std::string LongQueryDocument;
  size_t MaxLongQuery = 256 * 1024;
  size_t MaxHeaderLines = 100;
  size_t MaxHeaderBytes = 65536;

  bool HandleConnection(TWinshoeServerThread* thread) override;

  // Reads one request from connection, answers it and closes the connection.
  // thread is passed to the events and may be null.
  void ServeRequest(TWinshoeSocket& connection, TWinshoeServerThread* thread);

 protected:
  // The head has come (the line after the request line and headers is empty) and, for a POST,
  // the body that holds its query.
  bool RequestArrived(std::string_view received) const override;
  std::chrono::milliseconds MaxRequestWait() const override { return RequestTimeout; }

 private:
  void ReadRequest(TWinshoeSocket& connection, THTTPRequestInfo& request);
  // target: the document and what follows it; true when its path is LongQueryDocument.
  bool TakesLongQuery(std::string_view target) const;
  std::string ReadRequestLine(TWinshoeSocket& connection);
};

}  // namespace vn::net
