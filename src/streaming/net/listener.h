#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "net_log.h"
#include "platform/log_limiter.h"
#include "vrex_thread.h"
#include "winshoe_socket.h"

namespace vn::net {

class TWinshoeListener;
class TWinshoeServerThread;

// One accepted connection.
class TWinshoeServer : public TWinshoeSocket {
 public:
  explicit TWinshoeServer(TWinshoeListener* listener);

  TWinshoeListener* const Listener;
  std::string PeerAddress;  // dotted text
  int PeerPort = 0;
  std::atomic<bool> Busy{false};  // set while OnSessionTimeout runs for this connection
  Clock::time_point AcceptedAt;  // on the listener's clock (Now)
  Clock::time_point ArrivedAt;   // on the steady clock: deadlines count from here

  // Whether the peer still owes its request. The protocol marks the request received with
  // BeginServing, which is false when the connection has already given way to a new one.
  bool AwaitingRequest() const { return fPhase.load() == kAwaiting; }
  bool BeginServing();

  Clock::time_point LastActivity() const;
  void SetLastActivity(Clock::time_point t);
  void Disconnect() override;

 protected:
  void Touch() override;
  void CaptureLine(const std::string& line) override;

 private:
  friend class TWinshoeListener;
  static constexpr int kAwaiting = 0, kServing = 1, kGaveWay = 2, kClosed = 3;
  // Moves away from kAwaiting only by compare-exchange, so that giving way and starting to
  // serve never both happen, and the slot is released exactly once.
  std::atomic<int> fPhase{kAwaiting};
  std::atomic<Clock::rep> fLastActivity{0};
};

// Serves connections: calls the listener's HandleConnection until the connection closes.
// Between connections it parks for a while so that the listener can hand it the next one
// instead of starting a new thread; it serves one client at a time.
class TWinshoeServerThread : public TvrexThread {
 public:
  TWinshoeServerThread(TWinshoeListener* listener, std::unique_ptr<TWinshoeServer> connection);
  ~TWinshoeServerThread() override;

  // The connection being served. Valid on this thread while it serves, and on other
  // threads under the listener's thread-list lock while HasConnection().
  TWinshoeServer& Connection() { return *fConnection; }
  bool HasConnection() const { return fConnection != nullptr; }
  TWinshoeListener* Listener() const { return fListener; }

 protected:
  void Execute() override;
  void Run() override;
  void BeforeRun() override;
  void AfterRun() override;
  void WakeUp() override;
  void OnFinished() override;

 private:
  friend class TWinshoeListener;
  void ServeConnection();

  TWinshoeListener* fListener;
  std::unique_ptr<TWinshoeServer> fConnection;  // swapped only under the list lock
  std::condition_variable fGate;                // parked threads wait here for work
  bool fStopping = false;                       // under the list lock
  bool fReusable = true;                        // false for threads from OnCreateThread
};

class TWinshoeListenerThread : public TvrexThread {
 public:
  explicit TWinshoeListenerThread(TWinshoeListener* listener) : fListener(listener) {}
  ~TWinshoeListenerThread() override { TerminateAndWaitFor(); }

 protected:
  void Run() override;
  void WakeUp() override;

 private:
  TWinshoeListener* fListener;
};

// Owns a listening socket, its accept thread and one thread per accepted connection.
// Every thread it starts is joined by it: finished connection threads are reaped by the
// accept thread, the rest when the listener is destroyed.
class TWinshoeListener : public TWinshoe {
 public:
  using Clock = TWinshoeSocket::Clock;

  TWinshoeListener();
  ~TWinshoeListener() override;

  bool Active() const { return fActive; }
  // Binds to BoundIP:Port and starts accepting; raises (and stays inactive) when that fails.
  // Switching off stops accepting; running connections go on until they end.
  void SetActive(bool value);

  int SessionTimeout() const { return fSessionTimeout; }
  // Minutes of idleness after which a connection is dropped; 0 = never.
  void SetSessionTimeout(int minutes);

  // Connections served at once. Further clients wait in the kernel's accept queue until a
  // slot frees (a blocked thread costs little); none is refused for being one too many.
  int MaxConnections = 256;
  // Pending connections the kernel queues for accept: a burst waits there for a slot.
  int ListenBacklog = 1024;
  // When every slot is taken and a client waits, the connection that still owes its request,
  // has been connected for GiveWayAfter and has been silent longest is closed to make room:
  // slow or idle clients cannot starve the others. Protocols that mark requests received
  // (BeginServing) switch it on.
  bool IdleGivesWay = false;
  std::chrono::milliseconds GiveWayAfter{500};
  // With IdleGivesWay, clients beyond the slots are taken off the kernel's queue into a
  // waiting room of up to MaxWaiting, where no thread serves them yet. One whose request has
  // arrived whole (RequestArrived) takes the next slot, made as above if need be, before
  // those still sending; the others take slots as they free, in the order they came. So a
  // crowd of slow clients cannot hold back a quick one behind it. A full room makes way for
  // a newcomer likewise (the client waiting GiveWayAfter and silent longest is closed), and a
  // client still sending after MaxRequestWait() is closed. The room never takes more than
  // half the process's descriptors, so that the rest of the program keeps its own.
  int MaxWaiting = 2048;
  // How long a connection thread waits for the next connection before it ends.
  std::chrono::milliseconds ThreadIdleTime{2000};
  // How often idle connections are swept while SessionTimeout is set.
  std::chrono::milliseconds SweepInterval{50000};
  // The clock for activity times; tests replace it.
  std::function<Clock::time_point()> Now = [] { return Clock::now(); };

  std::function<void(TWinshoeServerThread*)> OnConnect;
  std::function<void(TWinshoeServerThread*)> OnDisconnect;
  std::function<void(TWinshoeServerThread*)> OnExecute;
  std::function<void(TWinshoeServerThread*, bool& keep)> OnSessionTimeout;
  // The lines a connection captures without a target (on that connection's thread).
  std::function<void(TWinshoeServer&, const std::string&)> OnCapture;
  // May supply the thread for a new connection; returning null uses the standard one.
  std::function<std::unique_ptr<TWinshoeServerThread>(std::unique_ptr<TWinshoeServer>&)>
      OnCreateThread;

  virtual void DoConnect(TWinshoeServerThread* thread);
  virtual void DoDisconnect(TWinshoeServerThread* thread);
  // Serves the connection once; returns false when nobody handled it.
  virtual bool HandleConnection(TWinshoeServerThread* thread);

  // The idle-connection sweep (the timer tick): stops every connection idle for at least
  // SessionTimeout minutes unless OnSessionTimeout keeps it.
  void SweepIdleConnections();

  // Connection threads serving a connection now.
  size_t ThreadCount() const;
  // Threads this listener started and has not yet joined, the accept thread included.
  size_t StartedThreadCount() const;
  // Accepts that failed for want of descriptors or memory (the listener went on).
  int AcceptResourceFailures() const { return fAcceptResourceFailures.load(); }
  // Clients in the waiting room now.
  size_t WaitingCount() const { return fWaitingCount.load(); }
  // A log line each incoming connection or request can bring: of each kind the first few are
  // written, then one count a minute, so a peer resetting connections cannot fill the disk.
  void LogOften(const std::string& kind, const std::string& line) { fOftenLog.Line(kind, line); }

 protected:
  // Whether the first bytes a waiting client has sent (looked at, not taken) hold its whole
  // request, so that serving it will not wait for the client. The base knows no protocol.
  virtual bool RequestArrived(std::string_view received) const;
  // How long a waiting client may take to send its request.
  virtual std::chrono::milliseconds MaxRequestWait() const { return std::chrono::milliseconds(10000); }

  // Switches off and stops and joins every connection thread. A derived listener calls it
  // first in its destructor, so that no thread runs into its half-destroyed parts.
  void Shutdown();

 private:
  friend class TWinshoeServerThread;
  friend class TWinshoeListenerThread;

  // A client in the waiting room (accept thread only).
  struct WaitingClient {
    int Fd = -1;
    std::string PeerAddress;
    int PeerPort = 0;
    Clock::time_point AcceptedAt, LastActivity;  // on Now's clock
    Clock::time_point ArrivedAt;                 // steady
  };
  using WaitingList = std::list<WaitingClient>;
  size_t WaitingLocked() const { return fWaiting.size() + fReady.size(); }

  void AcceptConnections();
  void StartConnection(int fd, const std::string& peerAddress, int peerPort, Clock::time_point acceptedAt,
                       Clock::time_point lastActivity, Clock::time_point arrivedAt);
  bool UsesWaitingRoom() const { return IdleGivesWay && fRoomLimit > 0; }
  void AddWaiting(int fd, const std::string& peerAddress, int peerPort);
  // Looks at what waiting clients sent since the last look.
  void WatchWaiting();
  // Whether the client's request is there (1), not yet (0), or it has gone or failed (-1).
  int LookAtRequest(int fd, bool hungUp) const;
  // Gives free slots, and slots made by giving way, to waiting clients.
  void ServeWaiting();
  void StartWaiting(WaitingList& list, WaitingList::iterator it);
  void DropWaiting(WaitingList::iterator it);
  void MarkReady(WaitingList::iterator it);
  // Closes the waiting client who has waited GiveWayAfter and been silent longest; false when
  // none may go.
  bool EvictWaiting();
  void ExpireWaiting();
  void CloseWaiting();
  int WaitingPollTimeout() const;
  void Reap();
  // Called by a thread whose connection ended; true when it was handed another one.
  bool ParkThread(TWinshoeServerThread* thread);
  // Stops parked threads (idleOnly) or every thread; returns them, out of the list, to join.
  std::list<std::unique_ptr<TWinshoeServerThread>> StopThreads(bool idleOnly);
  size_t BusyThreadsLocked() const;
  // A served connection's socket has closed (its thread may still be finishing).
  void ConnectionClosed(TWinshoeServer& connection);
  // True when a new connection may be accepted, after making room if one may give way.
  bool MakeRoom();
  void SignalWake();
  void DrainWake();
  int NextPollTimeout();
  void ScheduleSweep();

  std::atomic<bool> fActive{false};
  std::atomic<int> fOpenConnections{0};  // accepted and not yet closed: what the limit counts
  std::atomic<int> fSessionTimeout{0};
  std::atomic<int> fAcceptResourceFailures{0};
  LogLimiter fOftenLog{[](const std::string& line) { NetLog(line); }};
  bool fWaitingForRoom = false;  // accept thread only: full, nobody could give way
  int fWakeFd = -1;
  int fEpollFd = -1;  // watches the waiting room
  // The waiting room, used by the accept thread only (and by SetActive once it has ended):
  // clients still sending, silent longest first, and those whose request is there, in the
  // order it came.
  WaitingList fWaiting;
  WaitingList fReady;
  std::unordered_map<int, WaitingList::iterator> fWaitingByFd;  // fWaiting's clients
  size_t fRoomLimit = 0;  // MaxWaiting within the descriptor limit, fixed when switched on
  Clock::time_point fNextExpiry{};
  std::atomic<size_t> fWaitingCount{0};
  std::atomic<Clock::rep> fNextSweep{0};
  std::unique_ptr<TWinshoeListenerThread> fListenerThread;
  mutable std::mutex fThreadsMutex;
  std::list<std::unique_ptr<TWinshoeServerThread>> fThreads;  // every thread not yet joined
  std::vector<TWinshoeServerThread*> fIdle;                    // parked, waiting for work
  std::condition_variable fSweepDone;  // a connection's Busy flag was cleared
};

}  // namespace vn::net
