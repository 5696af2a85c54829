#include "http_listener.h"

#include <sys/socket.h>
#include <unistd.h>

#include <charconv>

#include "net_log.h"
#include "text_routines.h"
#include "url_coding.h"

namespace vn::net {

namespace {

// A request we refuse to serve; the message goes into the 400 page.
class EBadRequest : public EWinshoeException {
  using EWinshoeException::EWinshoeException;
};

bool IsConnectionFailure(const std::exception& e) {
  return dynamic_cast<const EWinshoeSocketError*>(&e) ||
         dynamic_cast<const EWinshoeConnClosedGraceful*>(&e) ||
         dynamic_cast<const EWinshoeClosedSocket*>(&e);
}

std::string ErrorPage(int code, const std::string& detail) {
  const std::string title = std::to_string(code) + " " + ResponseCodeText(code);
  return "<HTML><HEAD><TITLE>" + title + "</TITLE></HEAD><BODY><H1>" + title + "</H1><P>" +
         HtmlEscape(detail) + "</P></BODY></HTML>";
}

// Requests that peers and proxies could read two ways are refused: a name with blanks before
// its colon ("Host :" would escape the Host check), a second Host, lengths that disagree.
void CheckHeaders(const THeaderList& headers) {
  size_t hosts = 0;
  std::string length;
  for (const auto& [name, value] : headers) {
    if (name.empty() || name.find_first_of(" \t") != std::string::npos)
      throw EBadRequest("Error in parsing header.");
    if (SameTextAscii(name, "Host") && ++hosts > 1) throw EBadRequest("More than one Host header.");
    if (SameTextAscii(name, "Content-Length")) {
      if (!length.empty() && TrimAscii(value) != length) throw EBadRequest("Conflicting Content-Length.");
      length = TrimAscii(value);
    }
  }
}

// A NUL, tab, bare CR or other control byte has no place in a request line or a query: it
// would be run as part of a command and echoed.
bool HasControlByte(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

// False when the Content-Length is no plain number.
bool ContentLength(const THeaderList& headers, size_t& length) {
  const std::string text = TrimAscii(headers.Values("Content-Length"));
  const auto res = std::from_chars(text.data(), text.data() + text.size(), length);
  return !text.empty() && res.ec == std::errc() && res.ptr == text.data() + text.size();
}

constexpr std::chrono::milliseconds kLingerTime{1000};
constexpr size_t kLingerBytes = 1 << 20;

}  // namespace

TWinshoeHTTPListener::TWinshoeHTTPListener() {
  Port = 80;
  // A request marks itself received (BeginServing), so a client still owing one can give way.
  IdleGivesWay = true;
}

TWinshoeHTTPListener::~TWinshoeHTTPListener() {
  // Connection threads use OnCommandGet and the limits below; they end before those go.
  Shutdown();
}

bool TWinshoeHTTPListener::RequestArrived(std::string_view received) const {
  // The head ends at its first empty line; lines end in LF, with or without a CR. Only a POST
  // needs its header lines: any other head is looked at without copying a line.
  std::string_view first;
  std::vector<std::string> lines;
  size_t bodyStart = 0;
  bool post = false, sawFirst = false;
  for (;;) {
    const size_t end = received.find('\n', bodyStart);
    if (end == std::string_view::npos) return false;
    std::string_view line = received.substr(bodyStart, end - bodyStart);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    bodyStart = end + 1;
    if (line.empty()) break;
    if (!sawFirst) {
      sawFirst = true;
      first = line;
      const size_t blank = first.find(' ');
      post = blank != std::string_view::npos && SameTextAscii(first.substr(0, blank), "POST");
    } else if (post) {
      lines.emplace_back(line);
    }
  }
  // A POST's query is its body, which must have come too, as ReadRequest reads it. What is
  // refused before the body is read counts as there: the refusal does not wait for it.
  if (!post) return true;
  THeaderList headers;
  try {
    AddHeaderLines(headers, lines);
    CheckHeaders(headers);
  } catch (const EWinshoeException&) {
    return true;
  }
  const size_t queryLimit = TakesLongQuery(first.substr(first.find(' ') + 1)) ? MaxLongQuery : MaxRequestLine;
  const std::string_view body = received.substr(bodyStart);
  if (!headers.Has("Content-Length")) return body.find('\n') != std::string_view::npos || body.size() > queryLimit + 1;
  size_t length = 0;
  return !ContentLength(headers, length) || length > queryLimit + 2 || body.size() >= length;
}

bool TWinshoeHTTPListener::HandleConnection(TWinshoeServerThread* thread) {
  if (TWinshoeListener::HandleConnection(thread)) return true;
  ServeRequest(thread->Connection(), thread);
  return true;
}

bool TWinshoeHTTPListener::TakesLongQuery(std::string_view target) const {
  return !LongQueryDocument.empty() &&
         SameTextAscii(target.substr(0, target.find_first_of("? ")), LongQueryDocument);
}

std::string TWinshoeHTTPListener::ReadRequestLine(TWinshoeSocket& connection) {
  try {
    return connection.ReadLn(MaxRequestLine);
  } catch (const EWinshoeLineTooLong&) {
    // The longer limit only once the line shows its document; the buffer still grows only
    // as the bytes arrive.
    const std::string_view head = connection.Unread();
    const size_t blank = head.find(' ');
    if (blank == std::string_view::npos) throw;
    const std::string_view target = head.substr(blank + 1);
    if (target.find_first_of("? ") == std::string_view::npos || !TakesLongQuery(target)) throw;
    // The query, and the line's usual room for the rest; the query's own limit is checked
    // once it is cut out.
    return connection.ReadLn(MaxLongQuery + MaxRequestLine);
  }
}

void TWinshoeHTTPListener::ReadRequest(TWinshoeSocket& connection, THTTPRequestInfo& request) {
  // Headers, then the query for POST (first body line) or from the document.
  connection.CaptureHeader(request.Headers, MaxHeaderLines, MaxHeaderBytes);
  CheckHeaders(request.Headers);

  // A quote request's line may be long: it is moved along, not copied.
  std::string path = std::move(request.Document);
  std::string query;
  const size_t queryLimit = TakesLongQuery(path) ? MaxLongQuery : MaxRequestLine;
  if (request.Command == "POST") {
    if (request.Headers.Has("Content-Length")) {
      size_t length = 0;
      if (!ContentLength(request.Headers, length)) throw EBadRequest("Invalid Content-Length.");
      // Room for the query's line end.
      if (length > queryLimit + 2) throw EBadRequest("Request body is too long.");
      if (length > 0) query = connection.ReadBuffer(length);
      const size_t eol = query.find('\n');
      if (eol != std::string::npos) query.resize(eol > 0 && query[eol - 1] == '\r' ? eol - 1 : eol);
    } else {
      query = connection.ReadLn(queryLimit);
    }
  } else {
    const size_t q = path.find('?');
    if (q != std::string::npos) {
      // The query keeps the line's text; the short path is the copy.
      query = std::move(path);
      path = query.substr(0, q);
      query.erase(0, q + 1);
    }
  }
  if (query.size() > queryLimit) throw EBadRequest("The query is too long.");
  if (HasControlByte(query)) throw EBadRequest("Error in parsing command.");
  if (!HasValidEscapes(path)) throw EBadRequest("Bad escape in the document \"" + path + "\".");
  // A long query (one to LongQueryDocument) is read as it came: a decoded copy of it would be
  // as long again.
  if (query.size() <= MaxRequestLine) request.Params = DecodeQueryParams(query);
  request.UnparsedParams = std::move(query);
  request.Document = std::move(path);

  if (request.Headers.Has("Authorization")) {
    request.AuthExists = true;
    std::string value = TrimAscii(request.Headers.Values("Authorization"));
    const std::string scheme = Fetch(value, " ");
    if (!SameTextAscii(scheme, "Basic")) throw EBadRequest("Unsupported authorization scheme.");
    std::string credentials = DecodeBase64(TrimAscii(value));
    request.AuthUsername = Fetch(credentials, ":");
    request.AuthPassword = credentials;
  }
}

void TWinshoeHTTPListener::ServeRequest(TWinshoeSocket& connection,
                                        TWinshoeServerThread* thread) {
  bool lingering = false;
  bool headOnly = false;  // a HEAD request is answered without a body
  auto reply = [&](int code, const std::string& detail) {
    THTTPResponseInfo response(&connection);
    if (!ServerSoftware.empty()) response.ServerSoftware = ServerSoftware;
    response.SetResponseNo(code);
    response.HeadOnly = headOnly;
    // Codes outside 200..499 carry no content.
    if (code < 500) response.ContentText = ErrorPage(code, detail);
    response.ContentLength = static_cast<int64_t>(response.ContentText.size());
    response.WriteContent();
    lingering = true;
  };

  // One deadline for the whole head, so a peer cannot stretch it byte by byte; it counts from
  // the connection's arrival, time in the waiting room included.
  auto from = TWinshoeSocket::Clock::now();
  if (thread && thread->Connection().ArrivedAt != TWinshoeSocket::Clock::time_point{})
    from = std::min(from, thread->Connection().ArrivedAt);
  connection.SetDeadline(from + RequestTimeout);
  // False when the connection gave way to a new one while its request was still owed.
  auto beginServing = [&] {
    if (thread && !thread->Connection().BeginServing())
      throw EWinshoeClosedSocket("The connection gave way to a new one.");
  };
  try {
    THTTPRequestInfo request;
    bool handlerRunning = false;
    std::unique_ptr<THTTPResponseInfo> response;
    try {
      std::string line = ReadRequestLine(connection);
      // The version follows the last blank; before it, the command and the document.
      const int last = RPos(" ", line);
      if (last == 0 || HasControlByte(line)) throw EBadRequest("Error in parsing command.");
      request.Version = line.substr(static_cast<size_t>(last));
      line.resize(static_cast<size_t>(last - 1));
      const size_t blank = line.find(' ');
      request.Command = UpperCaseAscii(line.substr(0, blank));
      headOnly = request.Command == "HEAD";
      // A quote request's line may be long (256 KB): its document is moved out, not copied.
      if (blank == std::string::npos) line.clear();
      else line.erase(0, blank + 1);
      request.Document = std::move(line);

      const bool known = request.Command == "GET" || request.Command == "POST" ||
                         (request.Command == "HEAD" && OnCommandGet);
      if (!known) {
        if (OnCommandOther) {
          beginServing();
          connection.ClearDeadline();
          OnCommandOther(thread, request.Command, request.Version, request.Document);
          lingering = true;
        } else {
          reply(501, "The method \"" + request.Command + "\" is not supported.");
        }
      } else {
        ReadRequest(connection, request);
        beginServing();
        if (HostCheck && request.Headers.Has("Host") && !HostCheck(request.Headers.Values("Host"))) {
          reply(403, "The host \"" + request.Headers.Values("Host") + "\" is not served here.");
        } else {
          response = std::make_unique<THTTPResponseInfo>(&connection);
          response->HeadOnly = headOnly;
          if (!ServerSoftware.empty()) response->ServerSoftware = ServerSoftware;
          connection.SetDeadline(TWinshoeSocket::Clock::now() + ReplyTimeout);
          handlerRunning = true;
          if (OnCommandGet) OnCommandGet(thread, request, *response);
          handlerRunning = false;
          if (response->ContentStream) {
            if (!response->HeaderHasBeenWritten()) response->WriteHeader();
            if (!response->HeadOnly) connection.WriteStream(*response->ContentStream);
            response->ContentStream.reset();
          } else {
            // A handler that set a text but no length still gets a truthful header.
            if (!response->HeaderHasBeenWritten() && response->ContentLength == 0)
              response->ContentLength = static_cast<int64_t>(response->ContentText.size());
            if (!response->HeaderHasBeenWritten() || !response->ContentText.empty())
              response->WriteContent();
          }
        }
      }
    } catch (const std::exception& e) {
      if (IsConnectionFailure(e)) throw;
      if (!handlerRunning) {
        reply(400, e.what());
      } else {
        LogOften("HTTP handler failed", std::string("HTTP handler failed: ") + e.what());
        if (!response->HeaderHasBeenWritten()) reply(500, "The request could not be served.");
      }
    }
  } catch (const std::exception& e) {
    LogOften("HTTP connection dropped", "HTTP connection from " +
                                            (thread ? thread->Connection().PeerAddress : std::string("?")) +
                                            " dropped: " + e.what());
  }
  connection.ClearDeadline();
  // Unread request bytes would turn our close into a reset that can destroy the reply.
  if (lingering || connection.BufferedBytes() > 0 || connection.PendingInput())
    connection.LingeringClose(kLingerTime, kLingerBytes);
  else
    connection.Disconnect();
}

}  // namespace vn::net
