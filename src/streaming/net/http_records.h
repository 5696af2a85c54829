#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "header_list.h"

namespace vn::net {

class TWinshoeSocket;

// The text for an HTTP status code; "Unknown Response Code" for codes not in the table.
std::string ResponseCodeText(int code);

struct THTTPRequestInfo {
  std::string Document;        // path before "?", escapes kept
  std::string Command;         // GET, POST or HEAD
  std::string Version;         // text after the last blank of the request line
  std::string AuthUsername;
  std::string AuthPassword;
  bool AuthExists = false;     // the request had an Authorization header
  std::string UnparsedParams;  // raw query (GET, HEAD) or first body line (POST)
  THeaderList Headers;
  std::vector<std::string> Params;  // decoded query, one name=value per line (not for a long query)
};

class THTTPResponseInfo {
 public:
  explicit THTTPResponseInfo(TWinshoeSocket* connection) : Connection(connection) {}

  std::string ServerSoftware = "Winshoes/1.000";
  std::string AuthRealm;  // when set, the header asks for Basic authorization
  std::string ContentType = "text/html";
  TWinshoeSocket* const Connection;
  int64_t ContentLength = 0;  // written when not below 0
  THeaderList Headers;
  std::unique_ptr<std::istream> ContentStream;
  std::string ContentText;
  // A reply to HEAD: WriteContent sends the status and headers only (the length stays the
  // body's).
  bool HeadOnly = false;

  int ResponseNo() const { return fResponseNo; }
  const std::string& ResponseText() const { return fResponseText; }
  // Sets the code and its standard text.
  void SetResponseNo(int code);
  void SetResponseText(std::string text) { fResponseText = std::move(text); }
  bool HeaderHasBeenWritten() const { return fHeaderWritten; }

  // Status line and header lines, once; a second call raises.
  void WriteHeader();
  // The header when not yet written, then the stream or text for codes 200 to 499.
  void WriteContent();
  // The same with this text in place of ContentText (no stream), sent from where it lies.
  void WriteContent(std::string_view text);
  // The same with the text in pieces, sent in order without joining them.
  void WriteContent(const std::vector<std::string_view>& pieces);
  // The same with a text of size bytes lying in the file fd (from its start), sent from there.
  void WriteContentFromFile(int fd, size_t size);

 private:
  std::string BuildHeader();

  int fResponseNo = 200;
  std::string fResponseText = "OK";
  bool fHeaderWritten = false;
};

}  // namespace vn::net
