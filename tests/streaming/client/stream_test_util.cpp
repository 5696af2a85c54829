#include "stream_test_util.h"

#include <fstream>

#include "common/fake_site.h"
#include "core/program_state.h"
#include "platform/messages.h"
#include "retrieval/http_engine.h"

FakeSite& StreamSite() {
  static FakeSite* site = new FakeSite("streaming");
  return *site;
}

void WriteStreamSite(const std::string& fileName, const std::string& path, bool login) {
  std::ofstream f(ProgDir + fileName, std::ios::binary | std::ios::trunc);
  f << "VERSION=2.501\r\nNAME=Fake Stream\r\nSHORTNAME=FakeStr\r\nHOST=" << StreamSite().Url("") << "\r\n"
    << "METHOD=GET\r\nPATH=" << path << "\r\n"
    << "CHANNELS=X|Q|STOCKINFO|1|I|ISLANDINFO|2|H|HEARTBEAT|3|J|IHEARTBEAT|4|N|INOTFOUMD|5|F|FATALMESS|6|"
       "M|MESSAGE|7|P|PROPERTIES|8\r\nSYMBOLLIMIT=24\r\nTHREADS=2\r\n";
  if (login)
    f << "[LOGIN]\r\nREQUEST POST \"/login\" \"user=##LOGIN##&pass=##PASSWORD##\"\r\n"
         "IF FOUND \"invalid password\"\r\n  RESULT BADPASS\r\nEND\r\nRESULT OK\r\n";
}

int StreamCount(const std::string& tag) {
  HttpJob job;
  job.Url = StreamSite().Url("/count?tag=" + tag);
  HttpResult r = PerformHttp(job, nullptr);
  return r.Ok ? std::atoi(r.Body.c_str()) : -1;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  return WaitUntil(done, nullptr, timeoutMs, 5) == WaitResult::Done;
}

std::vector<intptr_t> NoticeWindow::For(intptr_t wParam) const {
  std::vector<intptr_t> out;
  for (const auto& [w, l] : Notices)
    if (w == wParam) out.push_back(l);
  return out;
}

bool NoticeWindow::event(QEvent* e) {
  if (e->type() == WindowMessageEvent::EventType) {
    auto* m = static_cast<WindowMessageEvent*>(e);
    if (m->Msg == CallbackMsg) Notices.emplace_back(m->WParam, m->LParam);
    return true;
  }
  return QObject::event(e);
}
