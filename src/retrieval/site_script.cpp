#include "retrieval/site_script.h"

#include <algorithm>
#include <cstdlib>
#include <cctype>
#include <cmath>
#include <map>

#include "core/add_snap.h"
#include "core/market_clock.h"
#include "core/news.h"
#include "core/pending.h"
#include "core/sites.h"
#include "core/stock_table.h"
#include "core/text_helpers.h"
#include "retrieval/date_parse.h"
#include "retrieval/news_thread.h"

enum class OpCode { Find, Get, Set, Each, If, Emit, Message, Stop, Request, WebPage, Result, CookieSite };

struct ScriptOp {
  OpCode Code = OpCode::Stop;
  int Line = 0;
  int Field = -1;
  std::string Text;   // search text (lower case) or template
  std::string Text2;  // EACH's UNTIL text (lower case), REQUEST's post data
  bool Flag = false;  // IF MISSING, COOKIESITE ADD, REQUEST POST, EACH with UNTIL
  int Kind = 0;       // EMIT's record kind; RESULT: 0 OK, 1 BADPASS
  std::vector<ScriptOp> Body, Else;
};

SiteScript::SiteScript() : Blocks(static_cast<size_t>(ScriptMode::Count)) {}
SiteScript::~SiteScript() = default;

bool SiteScript::HasMode(ScriptMode mode) const { return !Blocks[static_cast<size_t>(mode)].empty(); }

std::string ScriptRecord::Get(std::string_view name) const {
  for (const auto& [k, v] : Fields)
    if (k == name) return v;
  return {};
}

namespace {

constexpr size_t MaxFields = 64;
constexpr size_t MaxFieldName = 16;

struct Token {
  std::string Text;
  bool Quoted = false;
};

// Words and double-quoted texts ("" inside a text stands for one quote).
bool Tokenize(std::string_view line, std::vector<Token>& out, std::string& error) {
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t') {
      ++i;
      continue;
    }
    Token t;
    if (c == '"') {
      t.Quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            t.Text += '"';
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        t.Text += line[i++];
      }
      if (!closed) {
        error = "text without its closing quote";
        return false;
      }
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '"') t.Text += line[i++];
    }
    out.push_back(std::move(t));
  }
  return true;
}

bool ModeFromWord(std::string_view w, ScriptMode& mode) {
  static const std::pair<const char*, ScriptMode> names[] = {
      {"QUOTES", ScriptMode::Quotes}, {"NEWS", ScriptMode::News},       {"LOOKUP", ScriptMode::Lookup},
      {"ISLAND", ScriptMode::Island}, {"BELMIRA", ScriptMode::Belmira}, {"LOGIN", ScriptMode::Login}};
  for (const auto& [n, m] : names)
    if (SameText(w, n)) {
      mode = m;
      return true;
    }
  return false;
}

class Compiler {
public:
  Compiler(SiteScript& script) : script_(script) {}

  bool Compile(const StringList& lines, ScriptMode defaultMode, std::string& error) {
    if (lines.Count() > MaxScriptLines) {
      error = "script longer than " + std::to_string(MaxScriptLines) + " lines";
      return false;
    }
    mode_ = defaultMode;
    stack_.push_back({&Block(mode_), nullptr, 0});
    for (int i = 0; i < lines.Count(); ++i) {
      line_ = i + 1;
      std::string why;
      if (!CompileLine(Trim(lines[i]), why)) {
        error = "line " + std::to_string(line_) + ": " + why;
        return false;
      }
    }
    if (stack_.size() > 1) {
      error = "line " + std::to_string(stack_.back().OpenLine) + ": block without END";
      return false;
    }
    return true;
  }

private:
  struct Open {
    std::vector<ScriptOp>* Target;
    ScriptOp* Owner;  // EACH or IF whose body is being filled
    int OpenLine;
  };

  std::vector<ScriptOp>& Block(ScriptMode m) { return script_.Blocks[static_cast<size_t>(m)]; }

  bool FieldOf(const Token& t, int& field, std::string& why) {
    if (t.Quoted || t.Text.empty() || t.Text.size() > MaxFieldName) {
      why = "bad field name";
      return false;
    }
    std::string name = UpperCase(t.Text);
    for (char c : name)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') {
        why = "bad field name";
        return false;
      }
    auto it = std::find(script_.FieldNames.begin(), script_.FieldNames.end(), name);
    if (it == script_.FieldNames.end()) {
      if (script_.FieldNames.size() >= MaxFields) {
        why = "too many fields";
        return false;
      }
      script_.FieldNames.push_back(name);
      it = script_.FieldNames.end() - 1;
    }
    field = static_cast<int>(it - script_.FieldNames.begin());
    return true;
  }

  static bool SearchText(const Token& t, std::string& out, std::string& why) {
    if (!t.Quoted || t.Text.empty()) {
      why = "a search text in quotes is needed";
      return false;
    }
    out = LowerCase(t.Text);
    return true;
  }

  bool Word(const std::vector<Token>& tk, size_t i, std::string_view w) const {
    return i < tk.size() && !tk[i].Quoted && SameText(tk[i].Text, w);
  }

  bool CompileLine(const std::string& line, std::string& why) {
    if (line.empty() || line.rfind("//", 0) == 0) return true;
    std::vector<Token> tk;
    if (!Tokenize(line, tk, why)) return false;
    if (tk.empty()) return true;
    if (tk[0].Quoted) {
      why = "a statement must begin with a word";
      return false;
    }
    const std::string verb = UpperCase(tk[0].Text);
    auto args = [&](size_t n) {
      if (tk.size() != n + 1) {
        why = verb + " takes " + std::to_string(n) + (n == 1 ? " argument" : " arguments");
        return false;
      }
      return true;
    };
    const bool login = mode_ == ScriptMode::Login;
    const bool top = stack_.size() == 1;

    if (verb == "MODE") {
      if (!args(1)) return false;
      if (!top) {
        why = "MODE inside a block";
        return false;
      }
      if (!ModeFromWord(tk[1].Text, mode_)) {
        why = "unknown mode " + tk[1].Text;
        return false;
      }
      stack_.back().Target = &Block(mode_);
      return true;
    }
    if (verb == "END") {
      if (!args(0)) return false;
      if (top) {
        why = "END without EACH or IF";
        return false;
      }
      stack_.pop_back();
      return true;
    }
    if (verb == "ELSE") {
      if (!args(0)) return false;
      Open& o = stack_.back();
      if (top || o.Owner->Code != OpCode::If || o.Target != &o.Owner->Body) {
        why = "ELSE without IF";
        return false;
      }
      o.Target = &o.Owner->Else;
      return true;
    }

    ScriptOp op;
    op.Line = line_;
    if (verb == "FIND") {
      if (!args(1) || !SearchText(tk[1], op.Text, why)) return false;
      op.Code = OpCode::Find;
    } else if (verb == "GET") {
      if (!args(3) || !FieldOf(tk[1], op.Field, why)) return false;
      if (!Word(tk, 2, "UNTIL")) {
        why = "GET field UNTIL \"text\"";
        return false;
      }
      if (!SearchText(tk[3], op.Text, why)) return false;
      op.Code = OpCode::Get;
    } else if (verb == "SET") {
      if (!args(2) || !FieldOf(tk[1], op.Field, why)) return false;
      if (!tk[2].Quoted) {
        why = "SET field \"text\"";
        return false;
      }
      op.Code = OpCode::Set;
      op.Text = tk[2].Text;
    } else if (verb == "EACH") {
      if (tk.size() != 2 && tk.size() != 4) {
        why = "EACH \"text\" [UNTIL \"text\"]";
        return false;
      }
      if (!SearchText(tk[1], op.Text, why)) return false;
      if (tk.size() == 4) {
        if (!Word(tk, 2, "UNTIL") || !SearchText(tk[3], op.Text2, why)) {
          why = "EACH \"text\" [UNTIL \"text\"]";
          return false;
        }
        op.Flag = true;
      }
      op.Code = OpCode::Each;
    } else if (verb == "IF") {
      if (!args(2) || !(Word(tk, 1, "FOUND") || Word(tk, 1, "MISSING")) || !SearchText(tk[2], op.Text, why)) {
        if (why.empty()) why = "IF FOUND|MISSING \"text\"";
        return false;
      }
      op.Code = OpCode::If;
      op.Flag = Word(tk, 1, "MISSING");
    } else if (verb == "EMIT") {
      if (!args(1)) return false;
      std::string k = UpperCase(tk[1].Text);
      if (k == "QUOTE") op.Kind = ScriptRecord::Quote;
      else if (k == "HEADLINE" || k == "NEWS") op.Kind = ScriptRecord::Headline;
      else if (k == "ROW" || k == "LOOKUP") op.Kind = ScriptRecord::Row;
      else {
        why = "EMIT QUOTE|HEADLINE|ROW";
        return false;
      }
      op.Code = OpCode::Emit;
    } else if (verb == "MESSAGE") {
      if (!args(1) || !tk[1].Quoted) {
        if (why.empty()) why = "MESSAGE \"text\"";
        return false;
      }
      op.Code = OpCode::Message;
      op.Text = tk[1].Text;
    } else if (verb == "STOP") {
      if (!args(0)) return false;
      op.Code = OpCode::Stop;
    } else if (verb == "REQUEST" || verb == "WEBPAGE" || verb == "RESULT" || verb == "COOKIESITE") {
      if (!login) {
        why = verb + " belongs to the login block";
        return false;
      }
      if (verb == "REQUEST") {
        if ((tk.size() != 3 && tk.size() != 4) || !(Word(tk, 1, "GET") || Word(tk, 1, "POST")) || !tk[2].Quoted ||
            (tk.size() == 4 && !tk[3].Quoted)) {
          why = "REQUEST GET|POST \"path\" [\"data\"]";
          return false;
        }
        op.Code = OpCode::Request;
        op.Flag = Word(tk, 1, "POST");
        op.Text = tk[2].Text;
        if (tk.size() == 4) op.Text2 = tk[3].Text;
      } else if (verb == "WEBPAGE") {
        if (!args(0)) return false;
        op.Code = OpCode::WebPage;
      } else if (verb == "RESULT") {
        if (!args(1) || !(Word(tk, 1, "OK") || Word(tk, 1, "BADPASS"))) {
          why = "RESULT OK|BADPASS";
          return false;
        }
        op.Code = OpCode::Result;
        op.Kind = Word(tk, 1, "BADPASS") ? 1 : 0;
      } else {
        if (!args(1) || !(Word(tk, 1, "ADD") || Word(tk, 1, "REMOVE"))) {
          why = "COOKIESITE ADD|REMOVE";
          return false;
        }
        op.Code = OpCode::CookieSite;
        op.Flag = Word(tk, 1, "ADD");
      }
      // A new page moves every position, so pages change only outside loops and tests.
      if ((op.Code == OpCode::Request || op.Code == OpCode::WebPage) && !top) {
        why = verb + " inside a block";
        return false;
      }
    } else {
      why = "unknown statement " + tk[0].Text;
      return false;
    }

    std::vector<ScriptOp>& target = *stack_.back().Target;
    target.push_back(std::move(op));
    if (target.back().Code == OpCode::Each || target.back().Code == OpCode::If) {
      if (static_cast<int>(stack_.size()) > MaxScriptDepth) {
        why = "blocks nested too deep";
        return false;
      }
      ScriptOp* owner = &target.back();
      stack_.push_back({&owner->Body, owner, line_});
    }
    return true;
  }

  SiteScript& script_;
  ScriptMode mode_ = ScriptMode::Quotes;
  std::vector<Open> stack_;
  int line_ = 0;
};

// Tags removed, the common entities decoded, white space folded, cut to MaxFieldBytes.
std::string CleanText(std::string_view raw) {
  std::string out;
  bool space = false;
  auto put = [&](char c) {
    if (out.size() >= MaxFieldBytes) return;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      space = !out.empty();
      return;
    }
    if (space) out += ' ';
    space = false;
    if (out.size() < MaxFieldBytes) out += c;
  };
  for (size_t i = 0; i < raw.size() && out.size() < MaxFieldBytes; ++i) {
    char c = raw[i];
    if (c == '<') {
      size_t close = raw.find('>', i);
      if (close == std::string_view::npos) break;
      i = close;
      put(' ');
      continue;
    }
    if (c == '&') {
      size_t semi = raw.find(';', i);
      if (semi != std::string_view::npos && semi - i <= 8) {
        std::string name = LowerCase(raw.substr(i + 1, semi - i - 1));
        char decoded = 0;
        if (name == "amp") decoded = '&';
        else if (name == "lt") decoded = '<';
        else if (name == "gt") decoded = '>';
        else if (name == "quot") decoded = '"';
        else if (name == "apos" || name == "#39") decoded = '\'';
        else if (name == "nbsp") decoded = ' ';
        else if (name.size() > 1 && name[0] == '#' && std::all_of(name.begin() + 1, name.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
          int v = name.size() > 6 ? 0 : std::atoi(name.c_str() + 1);
          decoded = v > 0 && v < 128 ? static_cast<char>(v) : '?';
        }
        if (decoded) {
          put(decoded);
          i = semi;
          continue;
        }
      }
    }
    put(c);
  }
  return out;
}

class Runner {
public:
  Runner(const SiteScript& s, std::string_view page, ScriptSink& sink, const std::atomic<bool>* cancel,
         ScriptLoginHost* login)
      : s_(s), sink_(sink), cancel_(cancel), login_(login), fields_(s.FieldNames.size()), set_(s.FieldNames.size()) {
    SetPage(std::string(page));
  }

  ScriptRunResult Run(const std::vector<ScriptOp>& ops) {
    size_t cursor = 0, limit = page_.size();
    RunOps(ops, cursor, limit);
    return std::move(r_);
  }

private:
  enum class Flow { Next, Fail, Stop };

  void SetPage(std::string page) {
    page_ = std::move(page);
    lower_ = page_;
    for (char& c : lower_) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }

  // Position of the text within [from, limit), npos when absent.
  size_t Search(const std::string& text, size_t from, size_t limit) const {
    if (from > limit || limit - from < text.size()) return std::string::npos;
    size_t p = std::string_view(lower_).substr(0, limit).find(text, from);
    return p;
  }

  std::string Substitute(const std::string& text) const {
    std::string out;
    for (size_t i = 0; i < text.size() && out.size() < MaxFieldBytes; ++i) {
      if (text[i] == '{') {
        size_t close = text.find('}', i);
        if (close != std::string::npos && close - i - 1 <= MaxFieldName) {
          std::string name = UpperCase(std::string_view(text).substr(i + 1, close - i - 1));
          auto it = std::find(s_.FieldNames.begin(), s_.FieldNames.end(), name);
          if (it != s_.FieldNames.end()) {
            out += fields_[static_cast<size_t>(it - s_.FieldNames.begin())];
            i = close;
            continue;
          }
        }
      }
      out += text[i];
    }
    if (out.size() > MaxFieldBytes) out.resize(MaxFieldBytes);
    return out;
  }

  bool Emit(int kind) {
    ScriptRecord rec;
    rec.Kind = static_cast<decltype(rec.Kind)>(kind);
    for (size_t i = 0; i < fields_.size(); ++i)
      if (set_[i]) rec.Fields.emplace_back(s_.FieldNames[i], fields_[i]);
    std::fill(set_.begin(), set_.end(), false);
    for (auto& f : fields_) f.clear();
    if (sink_.Take(rec)) ++r_.Taken;
    if (++emitted_ >= MaxScriptRecords) {
      r_.LimitHit = true;
      return false;
    }
    return true;
  }

  Flow RunOps(const std::vector<ScriptOp>& ops, size_t& cursor, size_t& limit) {
    for (const ScriptOp& op : ops) {
      if (cancel_ && cancel_->load(std::memory_order_relaxed)) {
        r_.Cancelled = true;
        return Flow::Stop;
      }
      if (++steps_ > MaxScriptSteps) {
        r_.LimitHit = true;
        return Flow::Stop;
      }
      switch (op.Code) {
        case OpCode::Find: {
          size_t p = Search(op.Text, cursor, limit);
          if (p == std::string::npos) return Flow::Fail;
          cursor = p + op.Text.size();
          break;
        }
        case OpCode::Get: {
          size_t p = Search(op.Text, cursor, limit);
          if (p == std::string::npos) return Flow::Fail;
          auto f = static_cast<size_t>(op.Field);
          fields_[f] = CleanText(std::string_view(page_).substr(cursor, p - cursor));
          set_[f] = true;
          cursor = p + op.Text.size();
          break;
        }
        case OpCode::Set: {
          auto f = static_cast<size_t>(op.Field);
          fields_[f] = Substitute(op.Text);
          set_[f] = true;
          break;
        }
        case OpCode::Each: {
          size_t from = cursor, end = cursor;
          for (int round = 0;; ++round) {
            if (round >= MaxEachRounds) {
              r_.LimitHit = true;
              break;
            }
            size_t p = Search(op.Text, from, limit);
            if (p == std::string::npos) break;
            size_t start = p + op.Text.size();
            size_t stop;
            if (op.Flag) {
              size_t q = Search(op.Text2, start, limit);
              stop = q == std::string::npos ? limit : q;
            } else {
              size_t q = Search(op.Text, start, limit);
              stop = q == std::string::npos ? limit : q;
            }
            // Records never overlap, so a loop reads the page at most once.
            size_t c = start, l = stop;
            if (RunOps(op.Body, c, l) == Flow::Stop) return Flow::Stop;
            end = stop;
            from = op.Flag ? std::max(stop, start) : start;
            if (stop >= limit) break;
          }
          cursor = std::max(cursor, end);
          break;
        }
        case OpCode::If: {
          bool found = Search(op.Text, cursor, limit) != std::string::npos;
          Flow f = RunOps(found != op.Flag ? op.Body : op.Else, cursor, limit);
          if (f != Flow::Next) return f;
          break;
        }
        case OpCode::Emit:
          if (!Emit(op.Kind)) return Flow::Stop;
          break;
        case OpCode::Message:
          if (r_.Messages.size() < MaxMessageBytes) {
            r_.Messages += Substitute(op.Text);
            r_.Messages += '\n';
            if (r_.Messages.size() > MaxMessageBytes) r_.Messages.resize(MaxMessageBytes);
          }
          break;
        case OpCode::Stop:
          return Flow::Stop;
        case OpCode::Request: {
          std::string page;
          if (!login_ || ++requests_ > MaxLoginRequests ||
              !login_->Request(op.Flag ? "POST" : "GET", login_->Fill(Substitute(op.Text)),
                               login_->Fill(Substitute(op.Text2)), page)) {
            r_.Result = "ERR";
            return Flow::Stop;
          }
          SetPage(std::move(page));
          cursor = 0;
          limit = page_.size();
          break;
        }
        case OpCode::WebPage: {
          std::string page, url;
          if (login_) login_->WebPage(page, url);
          SetPage(std::move(page));
          cursor = 0;
          limit = page_.size();
          SetField("URL", url);
          break;
        }
        case OpCode::Result:
          r_.Result = op.Kind ? "BADPASS" : "OK";
          return Flow::Stop;
        case OpCode::CookieSite:
          if (login_) login_->CookieSite(op.Flag);
          break;
      }
    }
    return Flow::Next;
  }

  void SetField(std::string_view name, const std::string& value) {
    auto it = std::find(s_.FieldNames.begin(), s_.FieldNames.end(), name);
    if (it == s_.FieldNames.end()) return;
    auto f = static_cast<size_t>(it - s_.FieldNames.begin());
    fields_[f] = value.substr(0, MaxFieldBytes);
    set_[f] = true;
  }

  const SiteScript& s_;
  ScriptSink& sink_;
  const std::atomic<bool>* cancel_;
  ScriptLoginHost* login_;
  std::string page_, lower_;
  std::vector<std::string> fields_;
  std::vector<bool> set_;
  long steps_ = 0;
  int emitted_ = 0;
  int requests_ = 0;
  ScriptRunResult r_;
};

float PriceOf(const std::string& text) {
  std::string t;
  for (char c : text)
    if (c != ',' && c != '$' && c != '%' && c != '+') t += c;
  try {
    double v = ParsePrice(t);
    return std::isfinite(v) ? static_cast<float>(v) : 0.0f;
  } catch (...) {
    return 0.0f;
  }
}

// A link without its scheme and host: a story keeps its path when its site moves to another
// host or port (the news kept from an earlier run carries the old one).
std::string_view StoryPath(std::string_view link) {
  const size_t scheme = link.find("://");
  if (scheme == std::string_view::npos) return link;
  const size_t path = link.find('/', scheme + 3);
  return path == std::string_view::npos ? std::string_view() : link.substr(path);
}

bool InList(const StringList* symbols, const std::string& symbol) {
  if (!symbols) return true;
  for (int i = 0; i < symbols->Count(); ++i)
    if (SameText(Trim((*symbols)[i]), symbol)) return true;
  return false;
}

// Hands the records of a fetched page to the symbol table, the news lists and the look-up lists.
class TableSink : public ScriptSink {
public:
  TableSink(const StringList* symbols) : symbols_(symbols) {}

  bool Take(const ScriptRecord& rec) override {
    switch (rec.Kind) {
      case ScriptRecord::Quote: return TakeQuote(rec);
      case ScriptRecord::Headline: return TakeHeadline(rec);
      case ScriptRecord::Row: return TakeRow(rec);
    }
    return false;
  }

  TDateTime QuoteTime = 0;

private:
  std::string SymbolOf(const ScriptRecord& rec) const {
    std::string s = UpperCase(Trim(rec.Get("SYMBOL")));
    if (s.empty() && symbols_ && symbols_->Count() > 0) s = UpperCase(Trim((*symbols_)[0]));
    // A longer symbol is refused (and said), never cut into another one.
    if (!SymbolFitsTable(s)) s.clear();
    return s;
  }

  bool TakeQuote(const ScriptRecord& rec) {
    std::string symbol = SymbolOf(rec);
    if (symbol.empty() || !InList(symbols_, symbol)) return false;
    std::string name = rec.Get("NAME");
    std::string tick = rec.Get("TICK");
    SnapData d;
    d.Symbol = symbol;
    d.Name = name;
    d.TickMark = tick;
    d.Last = PriceOf(rec.Get("LAST"));
    d.Bid = PriceOf(rec.Get("BID"));
    d.Ask = PriceOf(rec.Get("ASK"));
    d.Open = PriceOf(rec.Get("OPEN"));
    d.High = PriceOf(rec.Get("HIGH"));
    d.Low = PriceOf(rec.Get("LOW"));
    d.PrevClose = PriceOf(rec.Get("PREV"));
    if (d.PrevClose == 0 && !rec.Get("CHANGE").empty() && d.Last != 0) d.PrevClose = d.Last - PriceOf(rec.Get("CHANGE"));
    d.Volume = PriceOf(rec.Get("VOLUME"));
    TDateTime t = ScriptRecordTime(rec);
    d.MarketDate = t;
    d.QuoteTime = t;
    if (AddSnap(d) < 0) return false;
    QuoteTime = t;
    return true;
  }

  bool TakeHeadline(const ScriptRecord& rec) {
    std::string symbol = SymbolOf(rec);
    if (symbol.empty() || !InList(symbols_, symbol)) return false;
    NewsRec n;
    n.Title = rec.Get("TITLE");
    n.Link = rec.Get("LINK");
    n.Source = rec.Get("SOURCE");
    n.Time = ScriptRecordTime(rec);
    // The news lists hide headlines without a source, so such a headline would never be
    // seen as known and would be stored again on every round.
    if (n.Title.empty() || n.Source.empty()) return false;
    // A headline already in the list is not stored twice.
    auto& seen = seen_[symbol];
    if (!seen.loaded) {
      StringList d1, d2, d3, d4;
      GetNewsItems(symbol, seen.titles, seen.links, d1, d2, d3, d4, seen.ids);
      seen.loaded = true;
    }
    for (int i = 0; i < seen.titles.Count(); ++i) {
      if (seen.titles[i] != n.Title || StoryPath(seen.links[i]) != StoryPath(n.Link)) continue;
      // The site moved: the story is known, but only the newest link leads to it.
      if (seen.links[i] != n.Link && SetNewsLink(symbol, std::atoi(seen.ids[i].c_str()), n.Link))
        seen.links.SetString(i, n.Link);
      return true;
    }
    const std::string title = n.Title, link = n.Link;
    const int id = AddNewsItem(symbol, std::move(n));
    if (id == 0) return false;
    seen.titles.Add(title);
    seen.links.Add(link);
    seen.ids.Add(std::to_string(id));
    if (std::find(NewNews.begin(), NewNews.end(), symbol) == NewNews.end()) NewNews.push_back(symbol);
    return true;
  }

  bool TakeRow(const ScriptRecord& rec) {
    std::string symbol = Trim(rec.Get("SYMBOL"));
    if (symbol.empty()) return false;
    std::lock_guard lock(LookupMutex);
    LookupSymbols.Add(symbol);
    LookupNames.Add(Trim(rec.Get("NAME")));
    return true;
  }

  struct Seen {
    bool loaded = false;
    StringList titles, links, ids;
  };
  const StringList* symbols_;
  std::map<std::string, Seen> seen_;

public:
  std::vector<std::string> NewNews;  // symbols that got headlines they did not have
};

}  // namespace

std::shared_ptr<SiteScript> CompileSiteScript(const StringList& lines, ScriptMode defaultMode, std::string& error) {
  error.clear();
  auto script = std::make_shared<SiteScript>();
  if (!CompileSiteScriptInto(*script, lines, defaultMode, error)) return nullptr;
  return script;
}

bool CompileSiteScriptInto(SiteScript& script, const StringList& lines, ScriptMode defaultMode, std::string& error) {
  error.clear();
  Compiler c(script);
  return c.Compile(lines, defaultMode, error);
}

ScriptRunResult RunScriptBlock(const SiteScript& script, ScriptMode mode, std::string_view page, ScriptSink& sink,
                               const std::atomic<bool>* cancel, ScriptLoginHost* login) {
  Runner r(script, page, sink, cancel, login);
  return r.Run(script.Blocks[static_cast<size_t>(mode)]);
}

ScriptMode ScriptModeOfPage(std::string_view page, std::string_view& rest) {
  static const std::pair<std::string_view, ScriptMode> prefixes[] = {{"NEWS", ScriptMode::News},
                                                                     {"LOOKUP", ScriptMode::Lookup},
                                                                     {"ISLAND", ScriptMode::Island},
                                                                     {"BELMIRA", ScriptMode::Belmira}};
  for (const auto& [p, m] : prefixes)
    if (page.substr(0, p.size()) == p) {
      rest = page.substr(p.size());
      return m;
    }
  rest = page;
  return ScriptMode::Quotes;
}

TDateTime ScriptRecordTime(const ScriptRecord& rec) {
  TDateTime now = MarketNow();
  std::string date = rec.Get("DATE"), time = rec.Get("TIME");
  double d = date.empty() ? 0 : ParseDateText(date, true);
  if (d == 0) d = DatePart(now);
  double t = time.empty() ? TimePart(now) : ParseTimeText(time, false);
  return d + t;
}

void RunSiteScript(const HTTPSite& site, const StringList* symbols, std::string_view prefixedPage,
                   TDateTime& quoteTime, std::string& extra, const std::atomic<bool>* cancel, std::string& status) {
  extra.clear();
  std::string_view page;
  ScriptMode mode = ScriptModeOfPage(prefixedPage, page);
  std::shared_ptr<SiteScript> script = site.Script;
  if (!script || !script->HasMode(mode)) {
    status = "NOSCRIPT";
    return;
  }
  TableSink sink(symbols);
  ScriptRunResult r = RunScriptBlock(*script, mode, page, sink, cancel);
  extra = std::move(r.Messages);
  if (sink.QuoteTime != 0) quoteTime = sink.QuoteTime;
  for (const std::string& symbol : sink.NewNews) {
    SetNewsFlag(symbol, 1);
    AddHandOver(NewsHandOver, symbol);
  }
  if (r.Cancelled) status = "CANCELLED";
  else status = r.Taken > 0 ? "OK" : "NODATA";
}

void RunSiteScript(const StringList* symbols, std::string_view prefixedPage, TDateTime& quoteTime, std::string& extra,
                   const std::atomic<bool>* cancel, std::string& status) {
  std::string_view rest;
  ScriptMode mode = ScriptModeOfPage(prefixedPage, rest);
  std::shared_ptr<HTTPSite> site = mode == ScriptMode::Lookup ? LookupSite
                                   : mode == ScriptMode::News ? CurrentNewsSite()
                                                              : CurSite;
  if (!site) {
    extra.clear();
    status = "NOSCRIPT";
    return;
  }
  RunSiteScript(*site, symbols, prefixedPage, quoteTime, extra, cancel, status);
}
