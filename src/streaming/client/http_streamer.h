#pragma once
// THTTPStreamer: a named first-in first-out byte queue. A request thread writes a streaming
// reply's body into it as it arrives (it is the request's ByteSink); one streaming thread takes
// typed values out of it with blocking reads. The queue named "BNDWIDTH" is the bandwidth meter.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "retrieval/http_engine.h"
#include "rirudid/rirudid.h"

// Thrown by Write when the queue stays full past its deadline or is stopped meanwhile: the
// request then fails, which is better than dropping bytes out of the middle of a record.
class EQueueFull : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class THTTPStreamer : public ByteSink {
public:
  static constexpr size_t InitialCapacity = 500;
  static constexpr size_t DefaultMaxCapacity = 8u * 1024u * 1024u;
  static constexpr int DefaultWriteWaitMs = 30000;

  explicit THTTPStreamer(const std::string& name, bool noMeter = false);
  ~THTTPStreamer() override;
  THTTPStreamer(const THTTPStreamer&) = delete;
  THTTPStreamer& operator=(const THTTPStreamer&) = delete;

  const std::string& Name() const { return name_; }

  // Copies count bytes out when that many are queued (consuming them unless peek); false and
  // nothing changed otherwise.
  bool Read(void* buffer, size_t count, bool peek = false);
  // Appends the bytes (counted in the bandwidth meter unless noMeter). The buffer grows by
  // doubling up to the cap; at the cap the writer waits for room, and throws EQueueFull when
  // the queue is stopped or the wait passes its deadline.
  void Write(const char* data, size_t size) override;

  // Blocking readers: wait until the value's bytes are there. False when the read gave up:
  // the queue was stopped (terminated), or its request ended before the bytes came.
  bool ReadByte(uint8_t& out);
  bool ReadInt24(int32_t& out);  // 3 bytes, least significant first
  bool ReadShortStr(std::string& out);  // 1-byte length
  bool ReadWordStr(std::string& out);   // 2-byte length, most significant first
  bool ReadBytes(void* buffer, size_t count);

  // Waits until at least count bytes are queued (true), or the queue is stopped, its request
  // ended, or timeoutMs passed (false). A negative time-out has no deadline.
  bool WaitForBytes(size_t count, int timeoutMs);

  // The stop flag: blocked readers and a writer waiting for room give up while it is set.
  void SetTerminated(bool on);
  bool Terminated() const { return terminated_.load(); }
  // Tells blocked readers how to see that the request writing here has ended (the request
  // engine reports its end only through the result slot); an empty function: never.
  void SetEndProbe(std::function<bool()> probe);
  // Drops every queued byte (a new request starts); wakes a writer waiting for room.
  void Clear();

  size_t Queued() const;
  size_t Capacity() const;
  void SetMaxCapacity(size_t bytes);
  void SetWriteWaitMs(int ms);

private:
  // Waits under lock for count bytes; false on stop, end or deadline.
  bool WaitLocked(std::unique_lock<std::mutex>& lock, size_t count, int64_t deadlineTick);
  void CopyOut(void* buffer, size_t count, bool consume);
  void Grow(size_t needed);

  std::string name_;
  bool noMeter_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<char> buffer_;
  size_t readPos_ = 0;
  size_t queued_ = 0;
  size_t maxCapacity_ = DefaultMaxCapacity;
  int writeWaitMs_ = DefaultWriteWaitMs;
  std::atomic<bool> terminated_{false};
  std::function<bool()> endProbe_;
};

// The bytes written into every metered queue over the last 30 seconds.
extern std::atomic<int64_t> BandwidthBytes;
// Records a write of that many bytes; 0 only drops the records older than 30 seconds.
void MeterBandwidth(int64_t bytes);
// The main window's streaming panel text: the bandwidth of the last 30 seconds.
std::string BandwidthText();

// The queue's blocking readers as the support library takes them (-1 for a record cut short).
RirudidReader QueueReader(THTTPStreamer& queue);
