#pragma once
// The local quote server: answers other programs on this PC with the collected quotes over
// HTTP on 127.0.0.1. One document, "/REQ", whose query names a command and its arguments;
// every reply is a plain text inside "<PRE>" and "</PRE>". It only reads the shared data.
#include <memory>
#include <mutex>
#include <string>
#include <exception>
#include <string_view>
#include <vector>

#include "platform/datetime.h"
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
  static std::string ListAllSymbols();
  static std::string ListEquitySymbols();
  static std::string ListIndexSymbols();
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

private:
  std::string lastError_;
  // Recent GETLASTQUOTE replies by their request text, valid while QuoteGeneration stays the
  // same: programs that poll every symbol get the reply without it being built again.
  // A reply body kept for many requests. A large one also lies in a sealed in-memory file, so
  // each send hands the kernel its pages instead of copying the text into the socket.
  struct KeptReply {
    explicit KeptReply(std::string text);
    ~KeptReply();
    KeptReply(const KeptReply&) = delete;
    KeptReply& operator=(const KeptReply&) = delete;
    const std::string Text;
    int Fd = -1;  // -1: sent from Text
  };

  class ReplyCache {
  public:
    // The whole reply body kept for the request text, or null.
    std::shared_ptr<const KeptReply> Find(const std::string& key, uint64_t generation);
    void Store(const std::string& key, uint64_t generation, std::shared_ptr<const KeptReply> body);

  private:
    struct Entry {
      std::string key;
      uint64_t generation;
      std::shared_ptr<const KeptReply> data;
    };
    static constexpr size_t MaxEntries = 16;
    std::mutex mutex_;
    std::vector<Entry> entries_;  // most recently stored last
  };

  void Dispatch(const std::string& command, StringList& params, vn::net::THTTPRequestInfo& request,
                vn::net::THTTPResponseInfo& response);
  // Sends "<PRE>" + text + data + "</PRE>" as the whole reply.
  static void SendServerReply(vn::net::THTTPResponseInfo& response, std::string_view text,
                              std::string_view data = {});
  // Sends a ready body as the whole reply.
  static void SendServerBody(vn::net::THTTPResponseInfo& response, std::string_view body, int fileFd = -1);

  // The socket library for the server's life; its end comes after the listener's.
  vn::net::WinshoeLibraryUse library_;
  // Declared before the listener: its connection threads use the cache until the listener's
  // destructor has joined them.
  ReplyCache lastQuotes_;
  vn::net::TWinshoeHTTPListener listener_;
};
