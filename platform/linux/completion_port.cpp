// Completion port on Linux.
//
// Shape: one epoll set, one eventfd, a FIFO of finished completions, and one
// internal poller thread. The poller is the only thread that waits in
// epoll_wait; when a socket becomes ready it performs the waiting operation
// itself (recvfrom, send, accept4, the SO_ERROR check of a connect) and moves
// the finished record into the FIFO. Threads calling Get wait on a condition
// variable for the FIFO. The eventfd only wakes the poller when the port
// closes.
//
// Why a poller thread rather than letting a Get caller run epoll_wait: with a
// single owner of epoll_wait no readiness event can be taken by a thread that
// then blocks elsewhere, no hand-over between "leader" threads is needed, and
// a Post never has to interrupt an epoll_wait. The cost is one extra thread
// hop per readiness-driven completion, which is what a Windows completion
// port costs too.
//
// Per socket (PortSocket, port_socket.h), two intrusive queues: reads
// (receive, receive-from, accept) and writes (send, send-to, connect), each
// served head first; port_socket.cpp holds the system calls of each kind.
// Registration uses EPOLLONESHOT and is re-armed only while an operation
// waits, so readable data with no receive posted does not wake the poller
// again and again.
// Epoll data carries (association generation << 32 | fd), so an event for a
// socket that was closed, and whose number was reused, is recognised as stale.
//
// Exactly once: a record is, at any time, owned by the starting thread, in
// one socket queue, or in the FIFO; every move between these happens under
// the socket's lock (queues) or the FIFO lock. CloseSocket marks the socket
// dead and empties its queues under the socket's lock, and every system call
// on the descriptor is made under that same lock, so the descriptor is never
// closed under a running call.
//
// Lock order: table lock -> socket lock -> FIFO lock. The table lock is never
// held across a socket lock by the poller or the start paths; Close takes
// them one after the other.
#include "platform/completion_port.h"

#include <errno.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "platform/linux/port_socket.h"
#include "platform/mutex.h"
#include "platform/linux/socket_error.h"

namespace plat {

namespace {

using linux_detail::OvQueue;
using linux_detail::PortSocket;
using linux_detail::SocketErrorFromErrno;
using StatePtr = std::shared_ptr<PortSocket>;

constexpr uint64_t kWakeTag = ~uint64_t{0};
constexpr int kEventBatch = 64;

bool ValidFd(Socket s) { return s >= 0 && s <= INT32_MAX; }

}  // namespace

struct CompletionPort::Impl {
  plat::Mutex lifeMu;  // serialises Open and Close
  std::atomic<bool> isOpen{false};
  int epfd = -1;
  int evfd = -1;
  std::thread poller;
  std::atomic<bool> stopPoller{false};
  std::atomic<uint32_t> nextGen{0};  // numbers the associations (epoll tags)

  plat::WordLock tableMu;
  bool accepting TZ_GUARDED_BY(tableMu) = false;
  std::unordered_map<int, StatePtr> table TZ_GUARDED_BY(tableMu);

  plat::Mutex fifoMu;
  std::condition_variable fifoCv;
  OvQueue fifo TZ_GUARDED_BY(fifoMu);
  bool closed TZ_GUARDED_BY(fifoMu) = true;
  uint64_t closeCount TZ_GUARDED_BY(fifoMu) = 0;  // lets Get notice a Close+Open

  StatePtr Find(Socket s) {
    if (!ValidFd(s)) return nullptr;
    plat::WordLockGuard lk(tableMu);
    if (!accepting) return nullptr;
    auto it = table.find(static_cast<int>(s));
    return it == table.end() ? nullptr : it->second;
  }

  // Arms the one-shot registration for what the queues wait for; with
  // force false only when that adds an event. Under the socket's lock.
  // Returns 0 or a SocketError.
  int Arm(PortSocket& st, bool force) TZ_REQUIRES(st.mu) {
    const uint32_t want = st.WantedEvents();
    if (want == 0) return kSockOk;
    if (!force && (want & ~st.armed) == 0) return kSockOk;
    epoll_event ev{};
    ev.events = want | EPOLLONESHOT;
    ev.data.u64 = st.Tag();
    if (::epoll_ctl(epfd, EPOLL_CTL_MOD, st.fd, &ev) != 0) return SocketErrorFromErrno(errno);
    st.armed = want;
    return kSockOk;
  }

  // Hands finished records to Get callers; dropped if the port has closed.
  void Complete(OvQueue& finished) {
    if (finished.Empty()) return;
    const bool one = finished.Single();
    {
      plat::MutexLock lk(fifoMu);
      if (closed) return;
      fifo.Append(finished);
    }
    if (one) {
      fifoCv.notify_one();
    } else {
      fifoCv.notify_all();
    }
  }

  // Poller thread: one readiness event of an associated socket.
  void OnReady(uint64_t tag, uint32_t events) {
    const int fd = static_cast<int>(tag & 0xFFFFFFFFu);
    const uint32_t gen = static_cast<uint32_t>(tag >> 32);
    StatePtr st = Find(fd);
    if (!st || st->gen != gen) return;  // stale: closed, maybe renumbered
    OvQueue finished;
    {
      plat::WordLockGuard lk(st->mu);
      if (st->dead) return;
      st->armed = 0;  // the one-shot has fired
      if (events & (EPOLLIN | EPOLLERR | EPOLLHUP)) st->Drain(true, finished);
      if (events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) st->Drain(false, finished);
      // If the socket cannot be watched any more, fail what still waits
      // rather than leave it hanging.
      if (Arm(*st, true) != kSockOk) st->TakeAll(kSockOther, finished);
    }
    Complete(finished);
  }

  void PollLoop() {
    epoll_event evs[kEventBatch];
    while (!stopPoller.load(std::memory_order_acquire)) {
      int n = ::epoll_wait(epfd, evs, kEventBatch, -1);
      if (n < 0) {
        if (errno == EINTR) continue;
        return;  // the set itself is broken; Close still joins us
      }
      for (int i = 0; i < n; ++i) {
        if (evs[i].data.u64 == kWakeTag) {
          uint64_t count = 0;
          ssize_t r = ::read(evfd, &count, sizeof count);
          (void)r;
          continue;
        }
        OnReady(evs[i].data.u64, evs[i].events);
      }
    }
  }

  // Common start path, ov already filled in. Sends, connects and receives
  // are tried at once, as an overlapped call would; what must wait is queued
  // and armed. A finished attempt still completes through the FIFO. Trying a
  // receive at once costs one call that finds nothing on an idle socket,
  // where arming costs an epoll_ctl anyway; on a busy one it saves the
  // arming, the poller's wake-up and its hand-over.
  int Start(Socket s, Overlapped* ov, bool readSide) {
    StatePtr st = Find(s);
    if (!st) return kSockNotSocket;
    OvQueue finished;
    {
      plat::WordLockGuard lk(st->mu);
      if (st->dead) return kSockNotSocket;
      ov->key = st->key;
      ov->socket = s;
      OvQueue& q = readSide ? st->reads : st->writes;
      PortSocket::Attempt a = PortSocket::Attempt::kWait;
      if (ov->op == linux_detail::kOpConnect) {
        a = st->StartConnect(ov);
      } else if (q.Empty()) {  // else keep the order of what waits
        a = readSide ? st->TryReadAtOnce(ov) : st->TryWrite(ov);
      }
      if (a == PortSocket::Attempt::kDone) {
        // A receive's failure is its completion's, as when the poller had
        // made the call; a send or connect that fails at once never starts.
        if (ov->error != kSockOk && !readSide) return ov->error;
        finished.Push(ov);
      } else {
        q.Push(ov);
        int err = Arm(*st, false);
        if (err != kSockOk) {
          q.Remove(ov);
          return err;
        }
      }
    }
    Complete(finished);
    return kSockOk;
  }
};

CompletionPort::CompletionPort() : impl_(new Impl) {}

CompletionPort::~CompletionPort() {
  Close();
  delete impl_;
}

bool CompletionPort::Open() {
  Impl& m = *impl_;
  plat::MutexLock life(m.lifeMu);
  if (m.isOpen.load()) return true;
  m.epfd = ::epoll_create1(EPOLL_CLOEXEC);
  m.evfd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kWakeTag;
  bool ok = m.epfd >= 0 && m.evfd >= 0 && ::epoll_ctl(m.epfd, EPOLL_CTL_ADD, m.evfd, &ev) == 0;
  if (ok) {
    m.stopPoller.store(false);
    try {
      m.poller = std::thread([&m] { m.PollLoop(); });
    } catch (const std::system_error&) {
      ok = false;
    }
  }
  if (!ok) {
    if (m.epfd >= 0) ::close(m.epfd);
    if (m.evfd >= 0) ::close(m.evfd);
    m.epfd = m.evfd = -1;
    return false;
  }
  {
    plat::MutexLock lk(m.fifoMu);
    m.closed = false;
    m.fifo = OvQueue();
  }
  {
    plat::WordLockGuard lk(m.tableMu);
    m.accepting = true;
  }
  m.isOpen.store(true);
  return true;
}

void CompletionPort::Close() {
  Impl& m = *impl_;
  plat::MutexLock life(m.lifeMu);
  if (!m.isOpen.load()) return;
  {
    plat::MutexLock lk(m.fifoMu);
    m.closed = true;
    ++m.closeCount;
    m.fifo = OvQueue();  // abandoned, as a closed Windows port abandons them
  }
  m.fifoCv.notify_all();

  std::unordered_map<int, StatePtr> sockets;
  {
    plat::WordLockGuard lk(m.tableMu);
    m.accepting = false;
    sockets.swap(m.table);
  }
  // Waits out any start or completion running on each socket; afterwards no
  // thread touches the epoll set through these sockets.
  for (auto& entry : sockets) {
    plat::WordLockGuard lk(entry.second->mu);
    OvQueue abandoned;
    entry.second->TakeAll(kSockOther, abandoned);
  }

  m.stopPoller.store(true, std::memory_order_release);
  uint64_t one = 1;
  ssize_t w = ::write(m.evfd, &one, sizeof one);
  (void)w;
  if (m.poller.joinable()) m.poller.join();
  ::close(m.epfd);
  ::close(m.evfd);
  m.epfd = m.evfd = -1;
  m.isOpen.store(false);
}

bool CompletionPort::IsOpen() const { return impl_->isOpen.load(); }

namespace {

// The port's record of one descriptor; false, with the error set, when it is
// no socket or no memory is left.
bool NewPortSocket(int fd, uint32_t gen, uintptr_t key, StatePtr* out) {
  int type = 0;
  socklen_t len = sizeof type;
  if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0) {
    linux_detail::SetLastFromErrno(errno);
    return false;
  }
  try {
    *out = std::make_shared<PortSocket>(fd, gen, key, type == SOCK_DGRAM);
  } catch (const std::bad_alloc&) {
    SetLastSocketError(kSockNoBufs);
    return false;
  }
  return true;
}

}  // namespace

bool CompletionPort::Associate(Socket s, uintptr_t key) {
  Impl& m = *impl_;
  if (!ValidFd(s)) {
    SetLastSocketError(kSockNotSocket);
    return false;
  }
  int fd = static_cast<int>(s);
  StatePtr st;
  if (!NewPortSocket(fd, m.nextGen.fetch_add(1) + 1, key, &st)) return false;
  StatePtr stale;
  {
    plat::WordLockGuard lk(m.tableMu);
    if (!m.accepting) {
      SetLastSocketError(kSockInvalidArg);
      return false;
    }
    // Registered but disarmed until an operation waits.
    epoll_event ev{};
    ev.events = EPOLLONESHOT;
    ev.data.u64 = st->Tag();
    if (::epoll_ctl(m.epfd, EPOLL_CTL_ADD, fd, &ev) != 0) {
      // EEXIST: associated already, as Windows refuses a second binding.
      linux_detail::SetLastFromErrno(errno);
      return false;
    }
    // A table entry whose descriptor epoll no longer knew was closed behind
    // the port's back and its number reused: replace it.
    auto it = m.table.find(fd);
    if (it != m.table.end()) {
      stale = it->second;
      it->second = st;
    } else {
      try {
        m.table.emplace(fd, st);
      } catch (const std::bad_alloc&) {
        ::epoll_ctl(m.epfd, EPOLL_CTL_DEL, fd, nullptr);
        SetLastSocketError(kSockNoBufs);
        return false;
      }
    }
  }
  if (stale) {
    OvQueue finished;
    {
      plat::WordLockGuard lk(stale->mu);
      stale->TakeAll(kSockConnReset, finished);
    }
    m.Complete(finished);
  }
  return true;
}

bool CompletionPort::Post(uintptr_t key, Overlapped* ov, uint32_t bytes) {
  Impl& m = *impl_;
  if (ov == nullptr) return false;
  ov->op = linux_detail::kOpPosted;
  ov->key = key;
  ov->bytes = bytes;
  ov->error = kSockOk;
  {
    plat::MutexLock lk(m.fifoMu);
    if (m.closed) return false;
    m.fifo.Push(ov);
  }
  m.fifoCv.notify_one();
  return true;
}

bool CompletionPort::Get(uintptr_t* key, Overlapped** ov, uint32_t* bytes, int* err) {
  Impl& m = *impl_;
  if (ov == nullptr) {
    if (err != nullptr) *err = kSockInvalidArg;
    return false;
  }
  Overlapped* got = nullptr;
  {
    plat::MutexLock lk(m.fifoMu);
    const uint64_t seenCloses = m.closeCount;
    while (!m.closed && m.closeCount == seenCloses && m.fifo.Empty()) lk.Wait(m.fifoCv);
    if (!m.closed && m.closeCount == seenCloses) got = m.fifo.Pop();
  }
  *ov = got;
  if (got == nullptr) {
    if (key != nullptr) *key = 0;
    if (bytes != nullptr) *bytes = 0;
    if (err != nullptr) *err = kPortClosedError;
    SetLastSocketError(kPortClosedError);
    return false;
  }
  if (key != nullptr) *key = got->key;
  if (bytes != nullptr) *bytes = got->bytes;
  if (err != nullptr) *err = got->error;
  if (got->error != kSockOk) SetLastSocketError(got->error);
  return got->error == kSockOk;
}

namespace {

// Checks shared by every start; fills the fields every operation uses.
int Prepare(Overlapped* ov, uint32_t op, const void* buf, uint32_t len) {
  if (ov == nullptr || (buf == nullptr && len != 0)) return kSockInvalidArg;
  ov->next = nullptr;
  ov->op = op;
  ov->bytes = 0;
  ov->error = kSockOk;
  ov->buffer = const_cast<void*>(buf);
  ov->length = len;
  ov->addr = nullptr;
  ov->addrLen = nullptr;
  ov->acceptSocket = kInvalidSocket;
  return kSockOk;
}

int Result(int err) {
  if (err != kSockOk) SetLastSocketError(err);
  return err;
}

}  // namespace

int CompletionPort::StartSendTo(Socket s, const void* buf, uint32_t len, const SockAddrIn& to,
                                Overlapped* ov) {
  int err = Prepare(ov, linux_detail::kOpSendTo, buf, len);
  if (err != kSockOk) return Result(err);
  ov->peer = to;
  return Result(impl_->Start(s, ov, false));
}

int CompletionPort::StartRecvFrom(Socket s, void* buf, uint32_t len, SockAddrIn* from,
                                  int32_t* fromLen, Overlapped* ov) {
  int err = Prepare(ov, linux_detail::kOpRecvFrom, buf, len);
  if (err != kSockOk) return Result(err);
  if (from != nullptr && fromLen != nullptr &&
      *fromLen < static_cast<int32_t>(sizeof(SockAddrIn))) {
    return Result(kSockInvalidArg);
  }
  ov->addr = from;
  ov->addrLen = fromLen;
  return Result(impl_->Start(s, ov, true));
}

int CompletionPort::StartSend(Socket s, const void* buf, uint32_t len, Overlapped* ov) {
  int err = Prepare(ov, linux_detail::kOpSend, buf, len);
  if (err != kSockOk) return Result(err);
  return Result(impl_->Start(s, ov, false));
}

int CompletionPort::StartRecv(Socket s, void* buf, uint32_t len, Overlapped* ov) {
  int err = Prepare(ov, linux_detail::kOpRecv, buf, len);
  if (err != kSockOk) return Result(err);
  return Result(impl_->Start(s, ov, true));
}

int CompletionPort::StartConnect(Socket s, const SockAddrIn& to, Overlapped* ov) {
  int err = Prepare(ov, linux_detail::kOpConnect, nullptr, 0);
  if (err != kSockOk) return Result(err);
  ov->peer = to;
  return Result(impl_->Start(s, ov, false));
}

int CompletionPort::StartAccept(Socket listenSocket, Overlapped* ov) {
  int err = Prepare(ov, linux_detail::kOpAccept, nullptr, 0);
  if (err != kSockOk) return Result(err);
  return Result(impl_->Start(listenSocket, ov, true));
}

void CompletionPort::CloseSocket(Socket s) {
  Impl& m = *impl_;
  if (!ValidFd(s)) return;
  StatePtr st;
  {
    plat::WordLockGuard lk(m.tableMu);
    auto it = m.table.find(static_cast<int>(s));
    if (it != m.table.end()) {
      st = it->second;
      m.table.erase(it);
    }
  }
  if (!st) {
    ::close(static_cast<int>(s));  // not associated: a plain close
    return;
  }
  OvQueue finished;
  {
    plat::WordLockGuard lk(st->mu);
    st->TakeAll(kSockConnReset, finished);
    // Closing removes the descriptor from the epoll set; under the socket's
    // lock no start or completion can be inside a call on it.
    ::close(st->fd);
  }
  m.Complete(finished);
}

}  // namespace plat
