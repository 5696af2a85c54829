// URL, query and Base64 decoding, host checks and response records.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>

#include "http_records.h"
#include "text_routines.h"
#include "url_coding.h"
#include "winshoe_socket.h"

using namespace vn::net;

TEST(UrlCoding, DecodeUrlDecodesEscapesAndCopiesTheRest) {
  EXPECT_EQ(DecodeUrl("/%52EQ"), "/REQ");
  EXPECT_EQ(DecodeUrl("a%2fb%2Fc"), "a/b/c");
  EXPECT_EQ(DecodeUrl("x%00y"), "xy");  // an escape of 0 is dropped
  EXPECT_EQ(DecodeUrl("%FF"), "\xFF");
  // Incomplete or bad escapes are copied, and a "%" at the very end reads nothing beyond it.
  EXPECT_EQ(DecodeUrl("50%"), "50%");
  EXPECT_EQ(DecodeUrl("a%4"), "a%4");
  EXPECT_EQ(DecodeUrl("%zz%4G"), "%zz%4G");
  EXPECT_TRUE(HasValidEscapes("/a%20b"));
  EXPECT_FALSE(HasValidEscapes("/a%"));
  EXPECT_FALSE(HasValidEscapes("/a%2"));
  EXPECT_FALSE(HasValidEscapes("/a%g0"));
}

TEST(UrlCoding, QueryParamsDecodeEscapesPlusAndAmpersand) {
  using V = std::vector<std::string>;
  EXPECT_EQ(DecodeQueryParams("X=%41&b=c+d"), (V{"X=A", "b=c d"}));
  // CR becomes ESC and LF vanishes, so no escape can add a line to the list.
  EXPECT_EQ(DecodeQueryParams("a%0Db%0ac%0d"), (V{"a\x1b" "bc\x1b"}));
  EXPECT_EQ(DecodeQueryParams(""), V{});
  EXPECT_THROW(DecodeQueryParams("a=%"), std::exception);
  EXPECT_THROW(DecodeQueryParams("a=%4"), std::exception);
  EXPECT_THROW(DecodeQueryParams("a=%x1"), std::exception);
}

TEST(UrlCoding, Base64DecodesUnitsAndRejectsForeignBytes) {
  EXPECT_EQ(DecodeBase64("dXNlcjpwYXNz"), "user:pass");
  EXPECT_EQ(DecodeBase64("dXNlcg=="), "user");
  EXPECT_EQ(DecodeBase64("dXNlcjE="), "user1");
  EXPECT_EQ(DecodeBase64("dXNlcg==abc"), "user");  // bytes after the last whole unit ignored
  EXPECT_EQ(DecodeBase64(""), "");
  EXPECT_THROW(DecodeBase64("dXN\xC3"), std::exception);  // beyond the 7-bit table
  EXPECT_THROW(DecodeBase64("dX!l"), std::exception);
  EXPECT_THROW(DecodeBase64("d=Nl"), std::exception);
  EXPECT_THROW(DecodeBase64("dX=l"), std::exception);
}

TEST(UrlCoding, LoopbackHostsWithAndWithoutPort) {
  for (const char* ok : {"127.0.0.1", "127.0.0.1:16239", "localhost", "LocalHost:80", "[::1]",
                         "[::1]:16239", " localhost "})
    EXPECT_TRUE(IsLoopbackHost(ok)) << ok;
  for (const char* bad : {"", "evil.com", "localhost.evil.com", "127.0.0.1.nip.io", "127.0.0.2",
                          "localhost:", "localhost:80:80", "[::1", "[::1]x", "[::2]",
                          "localhost:8o", "127.0.0.1:123456"})
    EXPECT_FALSE(IsLoopbackHost(bad)) << bad;
}

TEST(UrlCoding, HtmlEscapeAndTextRoutines) {
  EXPECT_EQ(HtmlEscape("<a href=\"x\">&'</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;&lt;/a&gt;");
  std::string text = "GET /a b";
  EXPECT_EQ(Fetch(text, " "), "GET");
  EXPECT_EQ(text, "/a b");
  EXPECT_EQ(Fetch(text, "?"), "/a b");
  EXPECT_EQ(text, "");
  EXPECT_EQ(RPos(" ", "GET /a b HTTP/1.0"), 9);
  EXPECT_EQ(RPos(" ", "GET /a b HTTP/1.0", 8), 7);
  EXPECT_EQ(RPos(" ", "nospace"), 0);
}

namespace {
std::string Drain(int fd) {
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0) out.append(buf, static_cast<size_t>(n));
  return out;
}
}  // namespace

TEST(HttpResponse, HeaderLinesStatusTextsAndSingleHeader) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  TWinshoeSocket sock;
  sock.SetHandle(fds[0]);

  THTTPResponseInfo r(&sock);
  r.ServerSoftware = "Vantora";
  r.SetResponseNo(404);
  EXPECT_EQ(r.ResponseText(), "Not Found");
  r.ContentLength = 1234567;
  r.WriteHeader();
  EXPECT_EQ(Drain(fds[1]),
            "HTTP/1.0 404 Not Found\r\nServer: Vantora\r\nContent-Type: text/html\r\n"
            "Content-Length: 1234567\r\n\r\n");
  try {
    r.WriteHeader();
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Header has already been written.");
  }

  // A realm asks for Basic authorization; no Content-Length below 0; codes outside
  // 200..499 send no content.
  THTTPResponseInfo a(&sock);
  a.AuthRealm = "quotes";
  a.ContentLength = -1;
  a.ContentText = "secret";
  a.WriteContent();
  EXPECT_EQ(Drain(fds[1]),
            "HTTP/1.0 401 Unauthorized\r\nServer: Winshoes/1.000\r\nContent-Type: text/html\r\n"
            "WWW-Authenticate: Basic realm=\"quotes\"\r\n\r\nsecret");
  THTTPResponseInfo e(&sock);
  e.SetResponseNo(503);
  e.ContentText = "hidden";
  e.WriteContent();
  EXPECT_EQ(Drain(fds[1]).find("hidden"), std::string::npos);

  THTTPResponseInfo s(&sock);
  s.ContentLength = 5;
  s.ContentStream = std::make_unique<std::istringstream>("12345");
  s.WriteContent();
  EXPECT_TRUE(Drain(fds[1]).ends_with("Content-Length: 5\r\n\r\n12345"));

  EXPECT_EQ(ResponseCodeText(405), "Methode not allowed");
  EXPECT_EQ(ResponseCodeText(299), "Unknown Response Code");
  ::close(fds[1]);
}
