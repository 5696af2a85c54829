#include "core/news.h"

#include <QColor>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "core/locks.h"

namespace {
bool TooLong(std::string_view symbol) {
  return !(symbol.size() > 0 && symbol[0] == '|') && symbol.size() > static_cast<size_t>(TMyStrList::KeyLength);
}

std::string NewsDateText(TDateTime t) {
  // Years 1 .. 9999 format; anything else cannot be shown as a date.
  if (!std::isfinite(t) || t < -693593.0 || t >= 2958466.0) return "***";
  return FormatDateTime("mmm dd,yyyy, hh:mm", t);
}
}  // namespace

void GetNewsItems(std::string_view symbol, StringList& titles, StringList& links, StringList& sources,
                  StringList& dateTexts, StringList& extras, StringList& readMarks, StringList& ids) {
  for (StringList* l : {&titles, &links, &sources, &dateTexts, &extras, &readMarks, &ids}) l->Clear();
  if (symbol.empty() || TooLong(symbol)) return;
  StockInfoType* rec = ResolveStock(symbol);
  if (!rec) return;
  LockHold writers(AddSnapLock, "GETNEWS");
  if (!writers) return;
  LockHold list(rec->News.Cs(), "GETNEWS");
  if (!list) return;
  const NewsList& news = rec->News;
  for (int i = news.Count() - 1; i >= 0; --i) {
    const NewsRec& n = news[i];
    if (n.Title.empty() || n.Source.empty()) continue;
    titles.Add(n.Title);
    links.Add(n.Link);
    sources.Add(n.Source);
    dateTexts.Add(NewsDateText(n.Time));
    extras.Add(std::to_string(n.Extra));
    readMarks.Add(n.Read ? "Y" : "N");
    ids.Add(std::to_string(n.Id));
  }
}

int GetNewsInfo(std::string_view symbol, TDateTime& lastCheck, TDateTime& newestUnread) {
  lastCheck = 0;
  newestUnread = 0;
  StockInfoType* rec = ResolveStock(symbol);
  if (!rec) return 0;
  lastCheck = rec->NewsChecked.load();
  LockHold list(rec->News.Cs(), "NEWSINFO");
  if (list) {
    bool any = false;
    for (int i = 0; i < rec->News.Count(); ++i) {
      const NewsRec& n = rec->News[i];
      if (n.Read) continue;
      if (!any || n.Time > newestUnread) newestUnread = n.Time;
      any = true;
    }
  }
  return rec->NewNews.load();
}

int SetNewsFlag(std::string_view symbol, int value) {
  const int index = StockTable.Find(symbol);
  if (index < 0) return -1;
  StockTable.Objects(index)->NewNews.store(value);
  return index;
}

namespace {
// Runs change on the symbol's headline with that id, under AddSnapLock and the list's lock.
template <typename Change>
bool ChangeNewsItem(std::string_view symbol, int id, const char* who, Change change) {
  if (symbol.size() > static_cast<size_t>(TMyStrList::KeyLength)) return false;
  const int index = StockTable.Find(symbol);
  if (index < 0) return false;
  StockInfoType* rec = StockTable.Objects(index);
  LockHold writers(AddSnapLock, who);
  if (!writers) return false;
  LockHold list(rec->News.Cs(), who);
  if (!list) return false;
  for (int i = 0; i < rec->News.Count(); ++i) {
    if (rec->News[i].Id == id) {
      change(rec->News[i]);
      return true;
    }
  }
  return false;
}
}  // namespace

bool SetNewsLink(std::string_view symbol, int id, const std::string& link) {
  return ChangeNewsItem(symbol, id, "NEWSLINK", [&](NewsRec& n) { n.Link = link; });
}

bool MarkNewsItem(std::string_view symbol, int id, bool read) {
  return ChangeNewsItem(symbol, id, "MARKNEWS", [&](NewsRec& n) { n.Read = read; });
}

int AddNewsItem(std::string_view symbol, NewsRec rec) {
  if (symbol.empty() || symbol.find('|') != std::string_view::npos || !SymbolFitsTable(symbol)) return 0;
  LockHold writers(AddSnapLock, "ADDNEWS");
  if (!writers) return 0;
  int index = StockTable.Find(symbol);
  if (index < 0) {
    LockHold table(StockListLock, "ADDNEWS");
    if (!table) return 0;
    index = StockTable.Add(symbol);
    if (index < 0) return 0;
  }
  NewsList& news = StockTable.Objects(index)->News;
  LockHold list(news.Cs(), "ADDNEWS");
  if (!list) return 0;
  return news.Add(std::move(rec));
}

namespace {
QColor Blend(QColor a, QColor b, double f) {
  f = std::clamp(f, 0.0, 1.0);
  auto mix = [f](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * f)); };
  return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

// '#' outline, 'o' inside, '.' left as it is.
constexpr const char* BulbShape[12] = {
    "..####..", ".#oooo#.", "#oooooo#", "#oooooo#", "#oooooo#", "#oooooo#",
    ".#oooo#.", "..#oo#..", "..####..", "..#oo#..", "..####..", "...##...",
};
}  // namespace

void DrawNewsBulb(QPainter& canvas, int x, int y, double ageDays) {
  if (!std::isfinite(ageDays) || ageDays < 0) ageDays = 0;
  const QColor black(0, 0, 0), grey(128, 128, 128), yellow(255, 255, 0), silver(192, 192, 192);
  const QColor outline = ageDays < 0.5 ? black : Blend(black, grey, (ageDays - 0.5) / 1.5);
  const QColor inside = ageDays < 0.5 ? Blend(yellow, grey, ageDays / 0.5) : silver;
  canvas.save();
  canvas.setPen(Qt::NoPen);
  for (int row = 0; row < 12; ++row) {
    for (int col = 0; col < 8; ++col) {
      const char c = BulbShape[row][col];
      if (c == '.') continue;
      canvas.fillRect(x + col, y + row, 1, 1, c == '#' ? outline : inside);
    }
  }
  canvas.restore();
}
