#include "listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

#include "net_log.h"

namespace vn::net {

// ---- TWinshoeServer ---------------------------------------------------------------------

TWinshoeServer::TWinshoeServer(TWinshoeListener* listener) : Listener(listener) {}

TWinshoeServer::Clock::time_point TWinshoeServer::LastActivity() const {
  return Clock::time_point(Clock::duration(fLastActivity.load(std::memory_order_relaxed)));
}

void TWinshoeServer::SetLastActivity(Clock::time_point t) {
  fLastActivity.store(t.time_since_epoch().count(), std::memory_order_relaxed);
}

void TWinshoeServer::Touch() {
  SetLastActivity(Listener->Now());
}

void TWinshoeServer::CaptureLine(const std::string& line) {
  if (Listener && Listener->OnCapture) Listener->OnCapture(*this, line);
}

bool TWinshoeServer::BeginServing() {
  int expected = kAwaiting;
  return fPhase.compare_exchange_strong(expected, kServing) || expected == kServing;
}

void TWinshoeServer::Disconnect() {
  TWinshoeSocket::Disconnect();
  PeerPort = 0;
}

// ---- TWinshoeServerThread ---------------------------------------------------------------

TWinshoeServerThread::TWinshoeServerThread(TWinshoeListener* listener,
                                           std::unique_ptr<TWinshoeServer> connection)
    : fListener(listener), fConnection(std::move(connection)) {}

TWinshoeServerThread::~TWinshoeServerThread() {
  // The owner has stopped the thread; this only makes sure it is joined.
  WaitFor();
}

void TWinshoeServerThread::Execute() {
  do {
    ServeConnection();
  } while (fListener->ParkThread(this));
}

void TWinshoeServerThread::ServeConnection() {
  try {
    BeforeRun();
    while (!Terminated()) Run();
  } catch (const std::exception& e) {
    fListener->LogOften("Connection ended", std::string("Connection from ") + fConnection->PeerAddress + " ended: " + e.what());
  } catch (...) {
    fListener->LogOften("Connection ended", "Connection from " + fConnection->PeerAddress + " ended by an unknown exception");
  }
  // A failed connection is closed at once rather than left open until the listener goes.
  fConnection->Disconnect();
  fListener->ConnectionClosed(*fConnection);
  try {
    AfterRun();
  } catch (...) {
    fListener->LogOften("OnDisconnect failed", "OnDisconnect raised an exception");
  }
}

void TWinshoeServerThread::BeforeRun() {
  fListener->DoConnect(this);
}

void TWinshoeServerThread::Run() {
  // Nobody to serve the connection: close it rather than spin.
  if (!fListener->HandleConnection(this)) fConnection->Disconnect();
  if (!fConnection->Connected()) Terminate();
}

void TWinshoeServerThread::AfterRun() {
  fListener->DoDisconnect(this);
}

void TWinshoeServerThread::WakeUp() {
  // Called on this thread or under the listener's list lock, so the connection stays put.
  if (fConnection) fConnection->WakeUp();
}

void TWinshoeServerThread::OnFinished() {
  fListener->SignalWake();
}

// ---- TWinshoeListenerThread -------------------------------------------------------------

void TWinshoeListenerThread::Run() {
  fListener->AcceptConnections();
}

void TWinshoeListenerThread::WakeUp() {
  fListener->SignalWake();
}

// ---- TWinshoeListener -------------------------------------------------------------------

TWinshoeListener::TWinshoeListener() {
  fWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fWakeFd == -1) throw EWinshoeSocketError(WinsockErrorFromErrno(errno));
  fEpollFd = ::epoll_create1(EPOLL_CLOEXEC);
  if (fEpollFd == -1) {
    const int err = errno;
    ::close(fWakeFd);
    throw EWinshoeSocketError(WinsockErrorFromErrno(err));
  }
}

TWinshoeListener::~TWinshoeListener() {
  Shutdown();
  ::close(fEpollFd);
  ::close(fWakeFd);
}

bool TWinshoeListener::RequestArrived(std::string_view) const { return true; }

void TWinshoeListener::Shutdown() {
  SetActive(false);
  auto threads = StopThreads(false);
  for (auto& t : threads) t->WaitFor();
}

void TWinshoeListener::ScheduleSweep() {
  fNextSweep.store((Now() + SweepInterval).time_since_epoch().count());
}

void TWinshoeListener::SetActive(bool value) {
  if (value == fActive) return;
  if (value) {
    AllocateSocket();
    try {
      Bind();
      Listen(ListenBacklog);
      ::fcntl(Handle(), F_SETFL, ::fcntl(Handle(), F_GETFL) | O_NONBLOCK);
    } catch (...) {
      CloseSocket();
      throw;
    }
    DrainWake();
    ScheduleSweep();
    rlimit files{};
    const size_t half = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
                            ? static_cast<size_t>(files.rlim_cur / 2)
                            : static_cast<size_t>(MaxWaiting);
    const size_t slots = static_cast<size_t>(std::max(0, MaxConnections));
    fRoomLimit = std::min(static_cast<size_t>(std::max(0, MaxWaiting)), half > slots ? half - slots : 0);
    fListenerThread = std::make_unique<TWinshoeListenerThread>(this);
    fActive = true;
    fListenerThread->Start();
  } else {
    fListenerThread->TerminateAndWaitFor();
    fListenerThread.reset();
    CloseSocket();
    CloseWaiting();  // nobody will serve them now
    fActive = false;
    // Parked threads will get no more work; running connections go on until they end.
    auto idle = StopThreads(true);
    for (auto& t : idle) t->WaitFor();
    Reap();
    fOftenLog.Flush();
  }
}

std::list<std::unique_ptr<TWinshoeServerThread>> TWinshoeListener::StopThreads(bool idleOnly) {
  std::list<std::unique_ptr<TWinshoeServerThread>> stopped;
  std::lock_guard lock(fThreadsMutex);
  for (auto it = fThreads.begin(); it != fThreads.end();) {
    TWinshoeServerThread* t = it->get();
    const bool parked = std::find(fIdle.begin(), fIdle.end(), t) != fIdle.end();
    if (idleOnly && !parked) {
      ++it;
      continue;
    }
    t->fStopping = true;
    t->Terminate();
    t->fGate.notify_one();
    stopped.push_back(std::move(*it));
    it = fThreads.erase(it);
  }
  return stopped;
}

bool TWinshoeListener::ParkThread(TWinshoeServerThread* thread) {
  std::unique_ptr<TWinshoeServer> ended;  // freed after the lock is released
  std::unique_lock lock(fThreadsMutex);
  // A sweep may be asking OnSessionTimeout about this connection: it stays until that ends.
  fSweepDone.wait(lock, [&] { return !thread->fConnection->Busy; });
  ended = std::move(thread->fConnection);
  if (thread->fStopping || !thread->fReusable || !fActive) return false;
  fIdle.push_back(thread);
  thread->fGate.wait_for(lock, ThreadIdleTime,
                         [&] { return thread->fConnection || thread->fStopping; });
  if (thread->fConnection) return true;  // the listener took it off the idle list
  fIdle.erase(std::remove(fIdle.begin(), fIdle.end(), thread), fIdle.end());
  return false;
}

size_t TWinshoeListener::BusyThreadsLocked() const {
  size_t n = 0;
  for (const auto& t : fThreads)
    if (t->HasConnection() && !t->Finished()) ++n;
  return n;
}

void TWinshoeListener::SetSessionTimeout(int minutes) {
  if (minutes < 0) throw EWinshoeException("Invliad SessionTimeout value.");
  fSessionTimeout = minutes;
  ScheduleSweep();
  SignalWake();
}

void TWinshoeListener::DoConnect(TWinshoeServerThread* thread) {
  if (OnConnect) OnConnect(thread);
}

void TWinshoeListener::DoDisconnect(TWinshoeServerThread* thread) {
  if (OnDisconnect) OnDisconnect(thread);
}

bool TWinshoeListener::HandleConnection(TWinshoeServerThread* thread) {
  if (!OnExecute) return false;
  OnExecute(thread);
  return true;
}

size_t TWinshoeListener::ThreadCount() const {
  std::lock_guard lock(fThreadsMutex);
  return BusyThreadsLocked();
}

size_t TWinshoeListener::StartedThreadCount() const {
  std::lock_guard lock(fThreadsMutex);
  // The accept thread runs exactly while the listener is active.
  return fThreads.size() + (fActive ? 1 : 0);
}

void TWinshoeListener::ConnectionClosed(TWinshoeServer& connection) {
  // A connection that gave way had its slot released by the accept thread already.
  if (connection.fPhase.exchange(TWinshoeServer::kClosed) == TWinshoeServer::kGaveWay) return;
  // The accept thread may be waiting for this slot.
  if (fOpenConnections.fetch_sub(1, std::memory_order_relaxed) >= MaxConnections) SignalWake();
}

bool TWinshoeListener::MakeRoom() {
  if (fOpenConnections.load(std::memory_order_relaxed) < MaxConnections) return true;
  if (!IdleGivesWay) return false;
  const auto now = Now();
  std::lock_guard lock(fThreadsMutex);
  TWinshoeServer* slowest = nullptr;
  for (const auto& t : fThreads) {
    if (!t->HasConnection() || t->Finished()) continue;
    TWinshoeServer& conn = t->Connection();
    if (!conn.AwaitingRequest() || conn.Busy || now - conn.AcceptedAt < GiveWayAfter) continue;
    if (!slowest || conn.LastActivity() < slowest->LastActivity()) slowest = &conn;
  }
  if (!slowest) return false;
  int expected = TWinshoeServer::kAwaiting;
  // Lost only to the connection starting to serve its request just now: no room this time.
  if (!slowest->fPhase.compare_exchange_strong(expected, TWinshoeServer::kGaveWay)) return false;
  fOpenConnections.fetch_sub(1, std::memory_order_relaxed);
  // Its thread, blocked reading, wakes to a closed connection; the socket is its to close.
  slowest->WakeUp();
  return true;
}

void TWinshoeListener::SignalWake() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(fWakeFd, &one, sizeof one);
}

void TWinshoeListener::DrainWake() {
  uint64_t value;
  [[maybe_unused]] ssize_t n = ::read(fWakeFd, &value, sizeof value);
}

void TWinshoeListener::Reap() {
  std::vector<std::unique_ptr<TWinshoeServerThread>> done;
  {
    std::lock_guard lock(fThreadsMutex);
    for (auto it = fThreads.begin(); it != fThreads.end();) {
      if ((*it)->Finished()) {
        done.push_back(std::move(*it));
        it = fThreads.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& t : done) t->WaitFor();
}

void TWinshoeListener::SweepIdleConnections() {
  if (fSessionTimeout <= 0) return;
  const auto limit = std::chrono::minutes(fSessionTimeout.load());
  const auto now = Now();
  std::vector<TWinshoeServerThread*> idle;
  {
    std::lock_guard lock(fThreadsMutex);
    for (auto it = fThreads.rbegin(); it != fThreads.rend(); ++it) {
      TWinshoeServerThread* t = it->get();
      if (!t->HasConnection() || t->Finished() || t->Terminated()) continue;
      TWinshoeServer& conn = t->Connection();
      if (conn.Busy || now - conn.LastActivity() < limit) continue;
      // Busy keeps the thread and its connection in place until the flag clears below.
      conn.Busy = true;
      idle.push_back(t);
    }
  }
  // The handler runs without the list lock: it may ask the listener anything.
  std::vector<char> keep(idle.size(), 0);
  if (OnSessionTimeout)
    for (size_t i = 0; i < idle.size(); ++i) {
      bool k = false;
      try {
        OnSessionTimeout(idle[i], k);
      } catch (...) {
        LogOften("OnSessionTimeout failed", "OnSessionTimeout raised an exception");
      }
      keep[i] = k;
    }
  {
    std::lock_guard lock(fThreadsMutex);
    for (size_t i = 0; i < idle.size(); ++i) {
      TWinshoeServer& conn = idle[i]->Connection();
      if (keep[i])
        conn.SetLastActivity(now);
      else
        idle[i]->Terminate();  // only wakes it: it ends its connection and waits for the next
      conn.Busy = false;
    }
  }
  fSweepDone.notify_all();
}

int TWinshoeListener::NextPollTimeout() {
  if (fSessionTimeout <= 0) return -1;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(
          Clock::time_point(Clock::duration(fNextSweep.load())) - Now())
          .count();
  if (left <= 0) return 0;
  return left > 60000 ? 60000 : static_cast<int>(left);
}

void TWinshoeListener::AcceptConnections() {
  // While full with nobody able to give way, waiting clients stay in the kernel's queue; the
  // accept thread looks again when a slot frees (a wake-up) or a connection grows old enough.
  constexpr int kRoomRecheckMs = 50;
  const bool waitingForRoom = fWaitingForRoom;
  fWaitingForRoom = false;
  pollfd fds[3] = {{waitingForRoom ? -1 : Handle(), POLLIN, 0}, {fWakeFd, POLLIN, 0}, {fEpollFd, POLLIN, 0}};
  int timeout = NextPollTimeout();
  if (waitingForRoom && (timeout < 0 || timeout > kRoomRecheckMs)) timeout = kRoomRecheckMs;
  if (const int room = WaitingPollTimeout(); room >= 0 && (timeout < 0 || room < timeout)) timeout = room;
  const int rc = ::poll(fds, 3, timeout);
  if (rc < 0 && errno != EINTR) throw EWinshoeSocketError(WinsockErrorFromErrno(errno));
  if (fds[1].revents) {
    DrainWake();
    Reap();
  }
  if (fListenerThread->Terminated()) return;
  if (fSessionTimeout > 0 && Now().time_since_epoch().count() >= fNextSweep.load()) {
    ScheduleSweep();
    SweepIdleConnections();
  }
  if (fds[2].revents) WatchWaiting();
  if (WaitingLocked()) {
    ExpireWaiting();
    ServeWaiting();
  }
  if (!(fds[0].revents & POLLIN)) return;

  // Take what the backlog holds, a bounded number at a time.
  for (int i = 0; i < 32; ++i) {
    bool slot = !WaitingLocked() && fOpenConnections.load(std::memory_order_relaxed) < MaxConnections;
    if (!slot && UsesWaitingRoom()) {
      if (WaitingLocked() >= fRoomLimit && !EvictWaiting()) {
        fWaitingForRoom = true;
        return;
      }
    } else if (!slot) {
      // Only a client that is already waiting makes an idle connection give way.
      if (i > 0) {
        pollfd pending{Handle(), POLLIN, 0};
        if (::poll(&pending, 1, 0) <= 0) return;
      }
      if (!MakeRoom()) {
        fWaitingForRoom = true;
        return;
      }
      slot = true;
    }
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const int fd = ::accept4(Handle(), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (fd == -1) {
      const int err = errno;
      switch (err) {
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
        case EINTR:
          return;
        case ECONNABORTED:
        case EPROTO:
        case EPERM:
          // The client gave up before we took it; the listener goes on.
          continue;
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM: {
          // Out of resources for now: log, pause briefly (waking on stop) and go on.
          fAcceptResourceFailures.fetch_add(1);
          LogOften("Accept failed", "Accept failed: " + SocketErrorText(WinsockErrorFromErrno(err)));
          pollfd wake{fWakeFd, POLLIN, 0};
          ::poll(&wake, 1, 100);
          return;
        }
        default:
          throw EWinshoeSocketError(WinsockErrorFromErrno(err));
      }
    }
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    if (slot) {
      const auto now = Now();
      StartConnection(fd, text, ntohs(peer.sin_port), now, now, Clock::now());
    } else {
      AddWaiting(fd, text, ntohs(peer.sin_port));
      ServeWaiting();
    }
  }
}

// ---- the waiting room -------------------------------------------------------------------

void TWinshoeListener::AddWaiting(int fd, const std::string& peerAddress, int peerPort) {
  WaitingClient w;
  w.Fd = fd;
  w.PeerAddress = peerAddress;
  w.PeerPort = peerPort;
  w.AcceptedAt = w.LastActivity = Now();
  w.ArrivedAt = Clock::now();
  const auto it = fWaiting.insert(fWaiting.end(), std::move(w));
  fWaitingByFd[fd] = it;
  fWaitingCount = WaitingLocked();
  // Its request may be there already; after that each new piece of it is one edge.
  const int state = LookAtRequest(fd, false);
  if (state < 0) {
    DropWaiting(it);
    return;
  }
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
  ev.data.fd = fd;
  // One that cannot be watched is left to a thread, which reads it as any other.
  if (state > 0 || ::epoll_ctl(fEpollFd, EPOLL_CTL_ADD, fd, &ev) != 0) MarkReady(it);
}

int TWinshoeListener::LookAtRequest(int fd, bool hungUp) const {
  char head[8192];
  const ssize_t n = ::recv(fd, head, sizeof head, MSG_PEEK | MSG_DONTWAIT);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? (hungUp ? -1 : 0) : -1;
  if (n == 0) return -1;
  // A head longer than the look is no slow client's: a thread reads the rest.
  if (static_cast<size_t>(n) == sizeof head || RequestArrived(std::string_view(head, static_cast<size_t>(n)))) return 1;
  return hungUp ? -1 : 0;
}

void TWinshoeListener::MarkReady(WaitingList::iterator it) {
  ::epoll_ctl(fEpollFd, EPOLL_CTL_DEL, it->Fd, nullptr);
  fWaitingByFd.erase(it->Fd);
  fReady.splice(fReady.end(), fWaiting, it);
}

void TWinshoeListener::WatchWaiting() {
  epoll_event events[64];
  for (;;) {
    const int n = ::epoll_wait(fEpollFd, events, 64, 0);
    for (int i = 0; i < n; ++i) {
      const auto found = fWaitingByFd.find(events[i].data.fd);
      if (found == fWaitingByFd.end()) continue;
      const WaitingList::iterator it = found->second;
      it->LastActivity = Now();
      fWaiting.splice(fWaiting.end(), fWaiting, it);  // the list stays silent-longest first
      const int state = LookAtRequest(it->Fd, events[i].events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR));
      if (state < 0)
        DropWaiting(it);
      else if (state > 0)
        MarkReady(it);
    }
    if (n < 64) return;
  }
}

void TWinshoeListener::ServeWaiting() {
  // Whole requests first, with room made for them if a connection may give way.
  while (!fReady.empty() && MakeRoom()) StartWaiting(fReady, fReady.begin());
  // Then the others, the earliest first, as slots are free.
  while (fReady.empty() && !fWaiting.empty() &&
         fOpenConnections.load(std::memory_order_relaxed) < MaxConnections) {
    auto first = fWaiting.begin();
    for (auto it = fWaiting.begin(); it != fWaiting.end(); ++it)
      if (it->AcceptedAt < first->AcceptedAt) first = it;
    StartWaiting(fWaiting, first);
  }
}

void TWinshoeListener::StartWaiting(WaitingList& list, WaitingList::iterator it) {
  WaitingClient w = std::move(*it);
  if (&list == &fWaiting) {
    ::epoll_ctl(fEpollFd, EPOLL_CTL_DEL, w.Fd, nullptr);
    fWaitingByFd.erase(w.Fd);
  }
  list.erase(it);
  fWaitingCount = WaitingLocked();
  StartConnection(w.Fd, w.PeerAddress, w.PeerPort, w.AcceptedAt, w.LastActivity, w.ArrivedAt);
}

void TWinshoeListener::DropWaiting(WaitingList::iterator it) {
  // Only clients still sending are dropped; closing also takes it out of the epoll set.
  fWaitingByFd.erase(it->Fd);
  ::close(it->Fd);
  fWaiting.erase(it);
  fWaitingCount = WaitingLocked();
}

bool TWinshoeListener::EvictWaiting() {
  const auto now = Now();
  for (auto it = fWaiting.begin(); it != fWaiting.end(); ++it)
    if (now - it->AcceptedAt >= GiveWayAfter) {
      DropWaiting(it);
      return true;
    }
  return false;
}

void TWinshoeListener::ExpireWaiting() {
  // Looked at a few times a second, not on every wake-up: the room may be long.
  constexpr std::chrono::milliseconds kExpiryStep{100};
  const auto now = Clock::now();
  if (now < fNextExpiry) return;
  fNextExpiry = now + kExpiryStep;
  const auto limit = now - MaxRequestWait();
  // A client whose request is there waits for a slot as long as it takes.
  for (auto it = fWaiting.begin(); it != fWaiting.end();) {
    if (it->ArrivedAt <= limit)
      DropWaiting(it++);
    else
      ++it;
  }
}

void TWinshoeListener::CloseWaiting() {
  while (!fWaiting.empty()) DropWaiting(fWaiting.begin());
  for (WaitingClient& w : fReady) ::close(w.Fd);
  fReady.clear();
  fWaitingCount = 0;
}

int TWinshoeListener::WaitingPollTimeout() const {
  // A client whose request is there may get room once a connection is old enough to give
  // way; clients still sending are looked at for their time limit.
  constexpr int kRecheckMs = 50;
  if (!fReady.empty()) return kRecheckMs;
  if (fWaiting.empty()) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(fNextExpiry - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<int64_t>(left, 100));
}

void TWinshoeListener::StartConnection(int fd, const std::string& peerAddress, int peerPort,
                                       Clock::time_point acceptedAt, Clock::time_point lastActivity,
                                       Clock::time_point arrivedAt) {
  // Finished threads are reaped when they signal the wake-up, not on every connection.
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  // The limit counts open connections, not threads still finishing a closed one; MakeRoom
  // has made sure there is a slot.
  fOpenConnections.fetch_add(1, std::memory_order_relaxed);
  std::unique_lock lock(fThreadsMutex);
  auto conn = std::make_unique<TWinshoeServer>(this);
  conn->SetHandle(fd);
  conn->BoundIP = BoundIP;
  conn->Port = Port;
  conn->PeerAddress = peerAddress;
  conn->PeerPort = peerPort;
  conn->AcceptedAt = acceptedAt;
  conn->ArrivedAt = arrivedAt;
  conn->SetLastActivity(lastActivity);
  if (!OnCreateThread && !fIdle.empty()) {
    // A parked thread takes it: no thread start for this connection.
    TWinshoeServerThread* t = fIdle.back();
    fIdle.pop_back();
    t->ClearTerminated();
    t->fConnection = std::move(conn);
    // Woken after the lock is released, so that it does not wake only to wait for the lock.
    // It stays alive: it is off the idle list and holds a connection.
    lock.unlock();
    t->fGate.notify_one();
    return;
  }
  try {
    std::unique_ptr<TWinshoeServerThread> thread;
    if (OnCreateThread) thread = OnCreateThread(conn);
    const bool standard = !thread;
    if (standard) thread = std::make_unique<TWinshoeServerThread>(this, std::move(conn));
    thread->fReusable = standard;
    TWinshoeServerThread* raw = thread.get();
    fThreads.push_back(std::move(thread));
    try {
      raw->Start();
    } catch (...) {
      fThreads.pop_back();
      throw;
    }
  } catch (const std::exception& e) {
    // The connection (if still ours) closes with its object.
    fOpenConnections.fetch_sub(1, std::memory_order_relaxed);
    LogOften("Cannot serve connection", std::string("Cannot serve connection: ") + e.what());
  }
}

}  // namespace vn::net
