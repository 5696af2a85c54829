#include "http_records.h"

#include <charconv>

#include "socket_errors.h"
#include "winshoe_socket.h"

namespace vn::net {

std::string ResponseCodeText(int code) {
  switch (code) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 203: return "Non-authoritative Information";
    case 204: return "No Content";
    case 205: return "Reset Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Moved Temporarily";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 305: return "Use Proxy";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Methode not allowed";
    case 406: return "Not Acceptable";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 411: return "Length Required";
    case 412: return "Precondition Failed";
    case 413: return "Request Entity To Long";
    case 414: return "Request-URI Too Long";
    case 415: return "Unsupported Media Type";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway timeout";
    case 505: return "HTTP version not supported";
    default: return "Unknown Response Code";
  }
}

namespace {
// Integers through to_chars: no locale can put a separator into them.
std::string IntText(int64_t value) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, res.ptr);
}
}  // namespace

void THTTPResponseInfo::SetResponseNo(int code) {
  fResponseNo = code;
  fResponseText = ResponseCodeText(code);
}

std::string THTTPResponseInfo::BuildHeader() {
  if (fHeaderWritten) throw EWinshoeException("Header has already been written.");
  fHeaderWritten = true;
  if (!ServerSoftware.empty()) Headers.SetValue("Server", ServerSoftware);
  Headers.SetValue("Content-Type", ContentType);
  if (ContentLength > -1) Headers.SetValue("Content-Length", IntText(ContentLength));
  if (!AuthRealm.empty()) {
    SetResponseNo(401);
    Headers.SetValue("WWW-Authenticate", "Basic realm=\"" + AuthRealm + "\"");
  }
  std::string text = "HTTP/1.0 " + IntText(fResponseNo) + " ";
  for (char c : fResponseText) text += (c == '\r' || c == '\n') ? ' ' : c;
  text += "\r\n";
  text += HeaderText(Headers);
  return text;
}

void THTTPResponseInfo::WriteHeader() {
  Connection->Write(BuildHeader());
}

void THTTPResponseInfo::WriteContent() {
  if (ContentStream) {
    if (!fHeaderWritten) Connection->Write(BuildHeader());
    if (fResponseNo >= 200 && fResponseNo <= 499 && !HeadOnly) Connection->WriteStream(*ContentStream);
    return;
  }
  WriteContent(ContentText);
}

void THTTPResponseInfo::WriteContent(const std::vector<std::string_view>& pieces) {
  size_t total = 0;
  for (std::string_view piece : pieces) total += piece.size();
  if (pieces.size() <= 1 || total <= 16384) {
    std::string joined;
    joined.reserve(total);
    for (std::string_view piece : pieces) joined += piece;
    WriteContent(joined);
    return;
  }
  const std::string header = fHeaderWritten ? std::string() : BuildHeader();
  if (fResponseNo < 200 || fResponseNo > 499 || HeadOnly) {
    Connection->Write(header);
    return;
  }
  // The header is held back for the first piece, each piece for the next.
  Connection->Write(header, true);
  for (size_t i = 0; i < pieces.size(); ++i) Connection->Write(pieces[i], i + 1 < pieces.size());
}

void THTTPResponseInfo::WriteContentFromFile(int fd, size_t size) {
  const std::string header = fHeaderWritten ? std::string() : BuildHeader();
  if (fResponseNo < 200 || fResponseNo > 499 || HeadOnly) {
    Connection->Write(header);
    return;
  }
  Connection->Write(header, true);
  Connection->WriteFile(fd, size);
}

void THTTPResponseInfo::WriteContent(std::string_view text) {
  std::string out;
  if (!fHeaderWritten) out = BuildHeader();
  if (fResponseNo < 200 || fResponseNo > 499 || HeadOnly) text = {};
  // Header and text go out together: joined when small, else the header is held back for
  // the text instead of copying the text.
  if (text.size() <= 16384) {
    out += text;
    Connection->Write(out);
  } else {
    Connection->Write(out, true);
    Connection->Write(text);
  }
}

}  // namespace vn::net
