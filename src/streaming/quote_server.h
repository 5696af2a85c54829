#pragma once
// The local quote server: answers other programs on this PC with the collected quotes over
// HTTP on 127.0.0.1. One document, "/REQ", whose query names a command and its arguments;
// every reply is a plain text inside "<PRE>" and "</PRE>". It only reads the shared data.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <exception>
#include <string_view>
#include <vector>

#include "platform/datetime.h"
#include "core/text_helpers.h"
#include "platform/string_list.h"
#include "streaming/net/http_listener.h"

class StockInfoType;

// Appends FormatPrice(value) without a temporary string.
void AppendPriceText(std::string& out, double value);

// One line of a time-and-sales reply, taken from a snapshot.
struct TimeSalesRow {
  TDateTime Time;  // time of day
  float Last, Ask, Bid;
  double VolumeChange;  // volume minus the previous snapshot's
};

class VNServer {
public:
  static constexpr int DefaultPort = 16239;

  // Creates the listener, inactive, on 127.0.0.1 and the default port.
  VNServer();
  ~VNServer();
  VNServer(const VNServer&) = delete;
  VNServer& operator=(const VNServer&) = delete;

  // Reads "Port" and "Active" of section "VNServer" and switches the server on or off;
  // "Active" other than "NO" (any case) switches it on.
  void LoadSettings();
  // False (logged) when the port could not be opened; the server then stays off.
  bool SetActive(bool value);
  bool Active() const { return listener_.Active(); }
  // Why the listener last failed to open; empty after it opened.
  const std::string& LastError() const { return lastError_; }
  vn::net::TWinshoeHTTPListener& Listener() { return listener_; }

  // The listener's handler; runs on the connection's thread.
  void VNServerCommandGet(vn::net::TWinshoeServerThread* thread, vn::net::THTTPRequestInfo& request,
                          vn::net::THTTPResponseInfo& response);

  // The one reply to a request whose data stayed locked longer than a request may wait.
  static constexpr const char* BusyText = "Error: busy, try again";
  // What a reply builder throws when its data stayed locked.
  struct ServerBusy : std::exception {
    const char* what() const noexcept override { return BusyText; }
  };

  // The reply builders: the data text, empty when there is nothing. They throw ServerBusy
  // when a lock guarding their data could not be obtained.
  static std::string ListPortfolios();
  // params: item 0 the command, items 1.. the symbols (an item's object, when set, is its
  // record).
  static std::string BuildLastQuotes(const StringList& params);
  // Replaces the arguments by a placeholder and every symbol of the table, in ascending order,
  // each with its record as the item's object.
  static void ExpandAllSymbols(StringList& params);
  // params: command, symbol, start time, end time.
  static std::string BuildTimeSales(const StringList& params);

  // The snapshots of rec whose time of day lies in [start, end], read under the list's lock
  // (which is held only for this walk). False when the lock was not obtained.
  static bool CollectTimeSales(StockInfoType& rec, double start, double end,
                               std::vector<TimeSalesRow>& out);

  // The reply bytes the server holds at once: replies being built or sent and those kept for
  // reuse. A reply that would take more gets BusyText. Set before the server is switched on.
  int64_t ReplyBudget = int64_t{256} << 20;
  // The reply bytes it holds now, and the most it has held since ResetPeakReplyBytes.
  int64_t ReplyBytes() const { return replyMemory_.Held(); }
  int64_t PeakReplyBytes() const { return replyMemory_.Peak(); }
  void ResetPeakReplyBytes() { replyMemory_.ResetPeak(); }

  // A reply takes memory in pieces of this size. Each connection may always take its first
  // piece (room for them is kept aside within the budget), so a short reply is never refused.
  static constexpr size_t ReplyPieceBytes = 64 * 1024;
  // Replies kept for reuse (GETLASTQUOTE asked again before a quote changed) take at most this
  // much of it; they are let go when a reply in flight needs the room.
  static constexpr size_t KeptReplyBytes = 32u << 20;

  class ReplyMemory {
  public:
    explicit ReplyMemory(VNServer& server) : server_(server) {}
    // Takes room in the budget; false when it has none. A reply's first piece may use the room
    // kept for every connection's first piece.
    bool Take(int64_t bytes, bool firstPiece);
    void Give(int64_t bytes);
    // The bytes really held (within the room taken) change by delta.
    void Hold(int64_t delta);
    int64_t Held() const { return held_.load(); }
    int64_t Peak() const { return peak_.load(); }
    void ResetPeak() { peak_.store(held_.load()); }

  private:
    VNServer& server_;
    std::atomic<int64_t> room_{0};
    std::atomic<int64_t> held_{0};
    std::atomic<int64_t> peak_{0};
  };

private:
  class ReplyBody;
  std::string lastError_;
  // Recent GETLASTQUOTE replies by their request text, valid while QuoteGeneration stays the
  // same: programs that poll every symbol get the reply without it being built again.
  // A reply body kept for many requests. A small one is a text; a large one lies in a sealed
  // in-memory file only, so each send hands the kernel its pages instead of copying them into
  // the socket. It keeps the room its body took in the budget until it goes.
  struct KeptReply {
    // Null when the body could not be kept (no in-memory file for a large one).
    static std::shared_ptr<const KeptReply> From(ReplyBody& body);
    KeptReply(ReplyMemory& memory, int64_t room) : Memory(memory), Room(room) {}
    ~KeptReply();
    KeptReply(const KeptReply&) = delete;
    KeptReply& operator=(const KeptReply&) = delete;
    ReplyMemory& Memory;
    const int64_t Room;
    std::string Text;
    int Fd = -1;  // -1: sent from Text
    size_t Size = 0;
    int64_t HeldBytes = 0;  // of its text or file, counted as held
  };
  static void SendKept(vn::net::THTTPResponseInfo& response, const KeptReply& kept);

  class ReplyCache {
  public:
    // The whole reply body kept for the request text, or null.
    std::shared_ptr<const KeptReply> Find(const std::string& key, uint64_t generation);
    void Store(const std::string& key, uint64_t generation, std::shared_ptr<const KeptReply> body);
    void Clear();

    static constexpr size_t MaxBytes = KeptReplyBytes;
    static constexpr size_t MaxEntries = 16;

  private:
    struct Entry {
      std::string key;
      uint64_t generation;
      std::shared_ptr<const KeptReply> data;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;  // most recently stored last
    size_t bytes_ = 0;            // of the kept bodies
  };

  // params: the command and its first arguments; argCount: how many arguments came.
  void Dispatch(const std::string& command, const StringList& params, int argCount,
                vn::net::THTTPResponseInfo& response);
  // GETLASTQUOTE: its lines are built from the query's arguments as they are read.
  void ServeLastQuotes(DelimitedFields& fields, vn::net::THTTPRequestInfo& request,
                       vn::net::THTTPResponseInfo& response);
  // Sends "<PRE>" + text + data + "</PRE>" as the whole reply.
  static void SendServerReply(vn::net::THTTPResponseInfo& response, std::string_view text,
                              std::string_view data = {});
  // Sends a body built in pieces as the whole reply.
  void SendServerBody(vn::net::THTTPResponseInfo& response, const ReplyBody& body);
  // Requests being answered; the last of a burst of large ones hands freed memory back.
  void RequestEnded();

  // The socket library for the server's life; its end comes after the listener's.
  vn::net::WinshoeLibraryUse library_;
  // Declared before the listener: its connection threads use them until the listener's
  // destructor has joined them (and the kept replies give their room back to the memory).
  ReplyMemory replyMemory_{*this};
  ReplyCache lastQuotes_;
  std::atomic<int> activeRequests_{0};
  std::atomic<bool> largeSinceTrim_{false};
  std::atomic<int64_t> nextTrim_{0};  // TickMs
  vn::net::TWinshoeHTTPListener listener_;
};
