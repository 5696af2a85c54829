#include "streaming/client/http_streamer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"

namespace {

// The request engine tells a request's end only through its result slot: a blocked reader
// looks at it this often.
constexpr int EndProbeSliceMs = 250;

int64_t DeadlineAfter(int timeoutMs) { return timeoutMs < 0 ? INT64_MAX : TickMs() + timeoutMs; }

}  // namespace

THTTPStreamer::THTTPStreamer(const std::string& name, bool noMeter)
    : name_(name.substr(0, 20)), noMeter_(noMeter), buffer_(InitialCapacity) {}

THTTPStreamer::~THTTPStreamer() { SetTerminated(true); }

size_t THTTPStreamer::Queued() const {
  std::lock_guard lock(mutex_);
  return queued_;
}

size_t THTTPStreamer::Capacity() const {
  std::lock_guard lock(mutex_);
  return buffer_.size();
}

void THTTPStreamer::SetMaxCapacity(size_t bytes) {
  std::lock_guard lock(mutex_);
  maxCapacity_ = std::max(bytes, InitialCapacity);
}

void THTTPStreamer::SetWriteWaitMs(int ms) {
  std::lock_guard lock(mutex_);
  writeWaitMs_ = ms;
}

void THTTPStreamer::SetTerminated(bool on) {
  {
    std::lock_guard lock(mutex_);
    terminated_ = on;
  }
  changed_.notify_all();
}

void THTTPStreamer::SetEndProbe(std::function<bool()> probe) {
  std::lock_guard lock(mutex_);
  endProbe_ = std::move(probe);
}

void THTTPStreamer::Clear() {
  {
    std::lock_guard lock(mutex_);
    readPos_ = 0;
    queued_ = 0;
  }
  changed_.notify_all();
}

void THTTPStreamer::CopyOut(void* buffer, size_t count, bool consume) {
  const size_t cap = buffer_.size();
  const size_t first = std::min(count, cap - readPos_);
  std::memcpy(buffer, buffer_.data() + readPos_, first);
  if (count > first) std::memcpy(static_cast<char*>(buffer) + first, buffer_.data(), count - first);
  if (consume) {
    readPos_ = (readPos_ + count) % cap;
    queued_ -= count;
    if (queued_ == 0) readPos_ = 0;
  }
}

bool THTTPStreamer::Read(void* buffer, size_t count, bool peek) {
  bool consumed = false;
  {
    std::lock_guard lock(mutex_);
    if (queued_ < count) return false;
    if (count) CopyOut(buffer, count, !peek);
    consumed = !peek && count;
  }
  if (consumed) changed_.notify_all();  // a writer may wait for room
  return true;
}

void THTTPStreamer::Grow(size_t needed) {
  size_t cap = buffer_.size();
  while (cap < needed) cap = std::min(cap * 2, std::max(maxCapacity_, buffer_.size()));
  std::vector<char> grown(cap);
  if (queued_) CopyOut(grown.data(), queued_, false);
  buffer_.swap(grown);
  readPos_ = 0;
}

void THTTPStreamer::Write(const char* data, size_t size) {
  if (!noMeter_ && size) MeterBandwidth(static_cast<int64_t>(size));
  std::unique_lock lock(mutex_);
  int64_t deadline = 0;
  while (size) {
    if (terminated_) throw EQueueFull(name_ + ": stopped while writing");
    size_t room = buffer_.size() - queued_;
    if (room < size && buffer_.size() < maxCapacity_) {
      Grow(std::min(queued_ + size, std::max(maxCapacity_, buffer_.size())));
      room = buffer_.size() - queued_;
    }
    if (room == 0) {
      // Full at the cap: wait for the reader to make room.
      if (!deadline) deadline = DeadlineAfter(writeWaitMs_);
      const int64_t left = deadline - TickMs();
      if (left <= 0) throw EQueueFull(name_ + ": queue full");
      changed_.wait_for(lock, std::chrono::milliseconds(std::min<int64_t>(left, EndProbeSliceMs)));
      continue;
    }
    const size_t n = std::min(room, size);
    const size_t cap = buffer_.size();
    const size_t writePos = (readPos_ + queued_) % cap;
    const size_t first = std::min(n, cap - writePos);
    std::memcpy(buffer_.data() + writePos, data, first);
    if (n > first) std::memcpy(buffer_.data(), data + first, n - first);
    queued_ += n;
    data += n;
    size -= n;
    deadline = 0;  // the reader is taking bytes: a new wait gets a new deadline
    changed_.notify_all();
  }
}

bool THTTPStreamer::WaitLocked(std::unique_lock<std::mutex>& lock, size_t count, int64_t deadlineTick) {
  // The end is looked at when the wait begins and after each quiet slice, not on every write.
  bool probe = true;
  while (queued_ < count) {
    if (terminated_) return false;
    if (probe && endProbe_) {
      std::function<bool()> ended = endProbe_;
      lock.unlock();
      const bool over = ended();
      lock.lock();
      // Every byte of an ended request is in by now.
      if (over && queued_ < count) return false;
      if (queued_ >= count) break;
    }
    const int64_t left = deadlineTick - TickMs();
    if (left <= 0) return false;
    const int64_t slice = std::min<int64_t>(left, endProbe_ ? EndProbeSliceMs : 60000);
    probe = changed_.wait_for(lock, std::chrono::milliseconds(slice)) == std::cv_status::timeout;
  }
  return true;
}

bool THTTPStreamer::WaitForBytes(size_t count, int timeoutMs) {
  std::unique_lock lock(mutex_);
  return WaitLocked(lock, count, DeadlineAfter(timeoutMs));
}

bool THTTPStreamer::ReadBytes(void* buffer, size_t count) {
  char* out = static_cast<char*>(buffer);
  while (count) {
    {
      std::unique_lock lock(mutex_);
      // A value longer than the queue may hold comes in parts, so the writer never waits on it.
      const size_t part = std::min(count, maxCapacity_);
      if (!WaitLocked(lock, part, INT64_MAX)) return false;
      CopyOut(out, part, true);
      out += part;
      count -= part;
    }
    changed_.notify_all();
  }
  return true;
}

bool THTTPStreamer::ReadByte(uint8_t& out) {
  out = 0;
  return ReadBytes(&out, 1);
}

bool THTTPStreamer::ReadInt24(int32_t& out) {
  unsigned char b[3];
  out = 0;
  if (!ReadBytes(b, 3)) return false;
  out = b[0] | (b[1] << 8) | (b[2] << 16);
  return true;
}

bool THTTPStreamer::ReadShortStr(std::string& out) {
  out.clear();
  uint8_t n = 0;
  if (!ReadByte(n)) return false;
  out.resize(n);
  if (n && !ReadBytes(out.data(), n)) {
    out.clear();
    return false;
  }
  return true;
}

bool THTTPStreamer::ReadWordStr(std::string& out) {
  out.clear();
  unsigned char b[2];
  if (!ReadBytes(b, 2)) return false;
  const size_t n = (static_cast<size_t>(b[0]) << 8) | b[1];
  out.resize(n);
  if (n && !ReadBytes(out.data(), n)) {
    out.clear();
    return false;
  }
  return true;
}

namespace {

int QueueReadByte(void* q) {
  uint8_t b;
  return static_cast<THTTPStreamer*>(q)->ReadByte(b) ? b : -1;
}
int32_t QueueReadInt24(void* q) {
  int32_t v;
  return static_cast<THTTPStreamer*>(q)->ReadInt24(v) ? v : -1;
}
int QueueReadBytes(void* q, void* buffer, int count) {
  return count >= 0 && static_cast<THTTPStreamer*>(q)->ReadBytes(buffer, static_cast<size_t>(count)) ? count : -1;
}

}  // namespace

RirudidReader QueueReader(THTTPStreamer& queue) { return {&queue, QueueReadByte, QueueReadInt24, QueueReadBytes}; }

// --- the bandwidth meter ---

std::atomic<int64_t> BandwidthBytes{0};

namespace {

// One record of the meter: when (tick, ms) and how many bytes. Writes within one 100 ms step
// share a record, so the meter stays small however often the requests write.
struct MeterRecord {
  int64_t Tick;
  int32_t Bytes;
  int32_t Unused;
};
static_assert(sizeof(MeterRecord) == 16);

constexpr int64_t MeterWindowMs = 30000;
constexpr int64_t MeterStepMs = 100;

struct Meter {
  std::mutex Mutex;
  THTTPStreamer Queue{"BNDWIDTH", true};
  MeterRecord Pending{0, 0, 0};
};

Meter& TheMeter() {
  static Meter* meter = new Meter;  // lives to the end of the program, for every writer thread
  return *meter;
}

}  // namespace

void MeterBandwidth(int64_t bytes) {
  Meter& m = TheMeter();
  std::lock_guard lock(m.Mutex);
  const int64_t now = TickMs();
  const int64_t cutOff = now - MeterWindowMs;
  if (m.Pending.Bytes && (m.Pending.Tick / MeterStepMs != now / MeterStepMs || m.Pending.Tick <= cutOff)) {
    m.Queue.Write(reinterpret_cast<const char*>(&m.Pending), sizeof m.Pending);
    m.Pending = {0, 0, 0};
  }
  MeterRecord r;
  while (m.Queue.Read(&r, sizeof r, true) && r.Tick <= cutOff) {
    BandwidthBytes -= r.Bytes;
    m.Queue.Read(&r, sizeof r, false);
  }
  if (m.Pending.Bytes && m.Pending.Tick <= cutOff) {
    BandwidthBytes -= m.Pending.Bytes;
    m.Pending = {0, 0, 0};
  }
  if (bytes > 0) {
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(bytes, INT32_MAX - m.Pending.Bytes));
    if (!m.Pending.Bytes) m.Pending.Tick = now;
    m.Pending.Bytes += n;
    BandwidthBytes += n;
  }
}

std::string BandwidthText() {
  MeterBandwidth(0);
  const int64_t b = BandwidthBytes.load();
  char text[64];
  if (b < 10000) std::snprintf(text, sizeof text, "%lld B/30s", static_cast<long long>(b));
  else if (b < 10000000) std::snprintf(text, sizeof text, "%lld KB/30s", static_cast<long long>(b / 1024));
  else std::snprintf(text, sizeof text, "%lld MB/30s", static_cast<long long>(b / (1024 * 1024)));
  return text;
}
