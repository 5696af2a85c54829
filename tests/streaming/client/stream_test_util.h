#pragma once
// Shared by the streaming client's tests: the fake streaming service, its site files, and a
// window that records the "VNCallback" notices.
#include <QObject>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class FakeSite;

// The fake streaming service, started on first use.
FakeSite& StreamSite();
// Writes a streaming site file into the program folder: the request path (with the query that
// tells the service what to do) and, when asked, the login script.
void WriteStreamSite(const std::string& fileName, const std::string& path, bool login = false);
// How many streams the service opened under the tag.
int StreamCount(const std::string& tag);
// Waits (processing events) until done() holds; false after 20 s.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 20000);

class NoticeWindow : public QObject {
public:
  std::vector<std::pair<intptr_t, intptr_t>> Notices;
  // The colours posted for one thread number, in order.
  std::vector<intptr_t> For(intptr_t wParam) const;

protected:
  bool event(QEvent* e) override;
};
