// Completion port on Windows: the system's own (CreateIoCompletionPort,
// GetQueuedCompletionStatus, PostQueuedCompletionStatus) with overlapped
// Winsock calls: WSASendTo/WSARecvFrom for datagrams, WSASend/WSARecv for
// streams, and AcceptEx/ConnectEx, which Winsock hands out through WSAIoctl.
//
// The system's OVERLAPPED lives in Overlapped::system, so a record comes back
// from the system as it went in. A call that finishes at once still queues
// its completion (the default notification mode), so every started operation
// completes exactly once through Get.
//
// The table of associated sockets answers "is this socket ours" for the start
// paths, and its lock is held across each overlapped call, so CloseSocket
// cannot close a socket (and the system reuse its handle) in the middle of a
// start on it.
//
// Closing: threads blocked in Get are counted; Close stops new ones, wakes the
// counted ones with one empty packet each, waits until they have left, and
// only then closes the handle, so no Get ever waits on a handle that the
// system may have handed to someone else.
#include "platform/completion_port.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/win/socket_error.h"
#include "platform/win/win_api.h"

namespace plat {

namespace {

enum PortOp : uint32_t { kOpPosted = 1, kOpSendTo, kOpRecvFrom, kOpSend, kOpRecv, kOpConnect, kOpAccept };

// AcceptEx wants room for each address plus 16 bytes.
constexpr DWORD kAcceptAddrBytes = sizeof(sockaddr_in) + 16;
constexpr size_t kAcceptAreaOffset = (sizeof(OVERLAPPED) + 7) & ~size_t{7};
static_assert(kAcceptAreaOffset + 2 * kAcceptAddrBytes <= sizeof(Overlapped::system),
              "the OVERLAPPED and the accept addresses fit Overlapped::system");

// Packet that wakes a Get for Close; never handed to a caller.
constexpr ULONG_PTR kWakeKey = ~ULONG_PTR{0};

OVERLAPPED* SysOv(Overlapped* ov) { return reinterpret_cast<OVERLAPPED*>(ov->system); }

Overlapped* FromSys(OVERLAPPED* sys) {
  return reinterpret_cast<Overlapped*>(reinterpret_cast<unsigned char*>(sys) - offsetof(Overlapped, system));
}

SOCKET Sys(Socket s) { return static_cast<SOCKET>(s); }

WSABUF Buf(void* buf, uint32_t len) {
  WSABUF b;
  b.len = len;
  b.buf = static_cast<char*>(buf);
  return b;
}

// 0 when an overlapped call has been accepted (done or pending), else the
// sorted error of its immediate failure.
int Started(bool ok) {
  if (ok) return kSockOk;
  const int e = ::WSAGetLastError();
  // A datagram too large for the buffer still completes through the port
  // (a warning status, not a failure).
  if (e == WSA_IO_PENDING || e == WSAEMSGSIZE) return kSockOk;
  return win_detail::SocketErrorFromSystem(e);
}

// The extension functions are the same for every socket of the provider.
template <typename Fn>
Fn Extension(SOCKET s, GUID guid) {
  Fn fn = nullptr;
  DWORD bytes = 0;
  if (::WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &guid, sizeof guid, &fn, sizeof fn, &bytes, nullptr,
                 nullptr) != 0) {
    return nullptr;
  }
  return fn;
}

LPFN_ACCEPTEX AcceptExFn(SOCKET s) {
  static LPFN_ACCEPTEX fn = Extension<LPFN_ACCEPTEX>(s, WSAID_ACCEPTEX);
  return fn;
}

LPFN_CONNECTEX ConnectExFn(SOCKET s) {
  static LPFN_CONNECTEX fn = Extension<LPFN_CONNECTEX>(s, WSAID_CONNECTEX);
  return fn;
}

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
  std::memset(ov->system, 0, sizeof ov->system);
  return kSockOk;
}

int Result(int err) {
  if (err != kSockOk) SetLastSocketError(err);
  return err;
}

}  // namespace

struct CompletionPort::Impl {
  std::mutex lifeMu;  // serialises Open and Close
  std::atomic<HANDLE> port{nullptr};
  std::atomic<bool> open{false};
  std::atomic<int> getters{0};  // threads inside Get

  std::mutex tableMu;  // held across every start and close of a socket
  std::unordered_map<SOCKET, uintptr_t> table;

  // Runs `call` with the socket's key while the socket stays associated.
  template <typename Call>
  int Start(Socket s, Overlapped* ov, Call call) {
    std::lock_guard<std::mutex> lk(tableMu);
    auto it = table.find(Sys(s));
    if (it == table.end() || !open.load()) return kSockNotSocket;
    ov->key = it->second;
    ov->socket = s;
    return call(Sys(s));
  }

  // A finished operation's last step on the system side.
  void Finish(Overlapped* ov, bool ok, DWORD bytes, DWORD sysError);
};

void CompletionPort::Impl::Finish(Overlapped* ov, bool ok, DWORD bytes, DWORD sysError) {
  ov->bytes = bytes;
  ov->error = ok ? kSockOk : win_detail::SocketErrorFromSystem(static_cast<int>(sysError));
  if (ov->error == kSockMsgSize && (ov->op == kOpRecvFrom || ov->op == kOpRecv)) {
    // Cut datagram: one more than the buffer tells the caller to drop it.
    ov->bytes = ov->length + 1;
    ov->error = kSockOk;
  }
  if (ov->op == kOpConnect && ov->error == kSockOk) {
    ::setsockopt(Sys(ov->socket), SOL_SOCKET, SO_UPDATE_CONNECT_CONTEXT, nullptr, 0);
  }
  if (ov->op == kOpAccept) {
    SOCKET listener = Sys(ov->socket);
    SOCKET accepted = Sys(ov->acceptSocket);
    if (ov->error == kSockOk &&
        ::setsockopt(accepted, SOL_SOCKET, SO_UPDATE_ACCEPT_CONTEXT, reinterpret_cast<const char*>(&listener),
                     sizeof listener) != 0) {
      ov->error = win_detail::SocketErrorFromSystem(::WSAGetLastError());
    }
    if (ov->error != kSockOk) {
      ::closesocket(accepted);
      ov->acceptSocket = kInvalidSocket;
    }
  }
}

CompletionPort::CompletionPort() : impl_(new Impl) {}

CompletionPort::~CompletionPort() {
  Close();
  delete impl_;
}

bool CompletionPort::Open() {
  Impl& m = *impl_;
  std::lock_guard<std::mutex> life(m.lifeMu);
  if (m.open.load()) return true;
  if (!win_detail::EnsureWinsock()) return false;
  HANDLE h = ::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
  if (h == nullptr) return false;
  m.port.store(h);
  m.open.store(true);
  return true;
}

void CompletionPort::Close() {
  Impl& m = *impl_;
  std::lock_guard<std::mutex> life(m.lifeMu);
  if (!m.open.load()) return;
  {
    std::lock_guard<std::mutex> lk(m.tableMu);
    m.open.store(false);
    m.table.clear();  // the sockets stay open and belong to their owners
  }
  HANDLE h = m.port.load();
  // Every Get that counted itself before `open` went false gets one wake
  // packet; later ones see `open` false and leave without waiting.
  const int waiting = m.getters.load();
  for (int i = 0; i < waiting; ++i) ::PostQueuedCompletionStatus(h, 0, kWakeKey, nullptr);
  while (m.getters.load() > 0) ::Sleep(1);
  m.port.store(nullptr);
  ::CloseHandle(h);
}

bool CompletionPort::IsOpen() const { return impl_->open.load(); }

bool CompletionPort::Associate(Socket s, uintptr_t key) {
  Impl& m = *impl_;
  if (s == kInvalidSocket) {
    SetLastSocketError(kSockNotSocket);
    return false;
  }
  std::lock_guard<std::mutex> lk(m.tableMu);
  if (!m.open.load()) {
    SetLastSocketError(kSockInvalidArg);
    return false;
  }
  if (m.table.count(Sys(s)) != 0) {
    SetLastSocketError(kSockInvalidArg);
    return false;
  }
  // The system refuses a socket that is associated with a port already.
  if (::CreateIoCompletionPort(reinterpret_cast<HANDLE>(Sys(s)), m.port.load(), key, 0) == nullptr) {
    win_detail::SetLastFromSystem(static_cast<int>(::GetLastError()));
    return false;
  }
  try {
    m.table.emplace(Sys(s), key);
  } catch (const std::bad_alloc&) {
    SetLastSocketError(kSockNoBufs);
    return false;
  }
  return true;
}

bool CompletionPort::Post(uintptr_t key, Overlapped* ov, uint32_t bytes) {
  Impl& m = *impl_;
  if (ov == nullptr || !m.open.load()) return false;
  std::memset(ov->system, 0, sizeof ov->system);
  ov->op = kOpPosted;
  ov->key = key;
  ov->bytes = bytes;
  ov->error = kSockOk;
  return ::PostQueuedCompletionStatus(m.port.load(), bytes, key, SysOv(ov)) != 0;
}

bool CompletionPort::Get(uintptr_t* key, Overlapped** ov, uint32_t* bytes, int* err) {
  Impl& m = *impl_;
  if (ov == nullptr) {
    if (err != nullptr) *err = kSockInvalidArg;
    return false;
  }
  *ov = nullptr;
  DWORD n = 0;
  ULONG_PTR k = 0;
  OVERLAPPED* sys = nullptr;
  BOOL ok = FALSE;
  DWORD sysError = ERROR_ABANDONED_WAIT_0;
  m.getters.fetch_add(1);
  if (m.open.load()) {
    ok = ::GetQueuedCompletionStatus(m.port.load(), &n, &k, &sys, INFINITE);
    if (!ok) sysError = ::GetLastError();
  }
  m.getters.fetch_sub(1);
  if (sys == nullptr) {  // woken for Close, or the port is gone
    if (key != nullptr) *key = 0;
    if (bytes != nullptr) *bytes = 0;
    if (err != nullptr) *err = kPortClosedError;
    SetLastSocketError(kPortClosedError);
    return false;
  }
  Overlapped* got = FromSys(sys);
  if (got->op != kOpPosted) impl_->Finish(got, ok != 0, n, sysError);
  got->key = k;
  *ov = got;
  if (key != nullptr) *key = k;
  if (bytes != nullptr) *bytes = got->bytes;
  if (err != nullptr) *err = got->error;
  if (got->error != kSockOk) SetLastSocketError(got->error);
  return got->error == kSockOk;
}

int CompletionPort::StartSendTo(Socket s, const void* buf, uint32_t len, const SockAddrIn& to, Overlapped* ov) {
  int err = Prepare(ov, kOpSendTo, buf, len);
  if (err != kSockOk) return Result(err);
  ov->peer = to;
  return Result(impl_->Start(s, ov, [&](SOCKET h) {
    WSABUF b = Buf(ov->buffer, len);
    return Started(::WSASendTo(h, &b, 1, nullptr, 0, reinterpret_cast<const sockaddr*>(&ov->peer),
                               sizeof ov->peer, SysOv(ov), nullptr) == 0);
  }));
}

int CompletionPort::StartRecvFrom(Socket s, void* buf, uint32_t len, SockAddrIn* from, int32_t* fromLen,
                                  Overlapped* ov) {
  int err = Prepare(ov, kOpRecvFrom, buf, len);
  if (err != kSockOk) return Result(err);
  if (from != nullptr && fromLen != nullptr && *fromLen < static_cast<int32_t>(sizeof(SockAddrIn))) {
    return Result(kSockInvalidArg);
  }
  ov->addr = from;
  ov->addrLen = fromLen;
  return Result(impl_->Start(s, ov, [&](SOCKET h) {
    WSABUF b = Buf(buf, len);
    DWORD flags = 0;
    // The system writes the source address and its length on completion.
    sockaddr* src = fromLen != nullptr ? reinterpret_cast<sockaddr*>(from) : nullptr;
    return Started(::WSARecvFrom(h, &b, 1, nullptr, &flags, src, src != nullptr ? fromLen : nullptr, SysOv(ov),
                                 nullptr) == 0);
  }));
}

int CompletionPort::StartSend(Socket s, const void* buf, uint32_t len, Overlapped* ov) {
  int err = Prepare(ov, kOpSend, buf, len);
  if (err != kSockOk) return Result(err);
  return Result(impl_->Start(s, ov, [&](SOCKET h) {
    WSABUF b = Buf(ov->buffer, len);
    return Started(::WSASend(h, &b, 1, nullptr, 0, SysOv(ov), nullptr) == 0);
  }));
}

int CompletionPort::StartRecv(Socket s, void* buf, uint32_t len, Overlapped* ov) {
  int err = Prepare(ov, kOpRecv, buf, len);
  if (err != kSockOk) return Result(err);
  return Result(impl_->Start(s, ov, [&](SOCKET h) {
    WSABUF b = Buf(buf, len);
    DWORD flags = 0;
    return Started(::WSARecv(h, &b, 1, nullptr, &flags, SysOv(ov), nullptr) == 0);
  }));
}

int CompletionPort::StartConnect(Socket s, const SockAddrIn& to, Overlapped* ov) {
  int err = Prepare(ov, kOpConnect, nullptr, 0);
  if (err != kSockOk) return Result(err);
  ov->peer = to;
  return Result(impl_->Start(s, ov, [&](SOCKET h) {
    LPFN_CONNECTEX connectEx = ConnectExFn(h);
    if (connectEx == nullptr) return static_cast<int>(kSockInvalidArg);
    // ConnectEx insists on a bound socket; an unbound one gets any port.
    SockAddrIn local{};
    if (!GetSockName(static_cast<Socket>(h), &local) && !BindSocket(static_cast<Socket>(h), MakeAddr(0, 0))) {
      return LastSocketError();
    }
    return Started(connectEx(h, reinterpret_cast<const sockaddr*>(&ov->peer), sizeof ov->peer, nullptr, 0,
                             nullptr, SysOv(ov)) != FALSE);
  }));
}

int CompletionPort::StartAccept(Socket listenSocket, Overlapped* ov) {
  int err = Prepare(ov, kOpAccept, nullptr, 0);
  if (err != kSockOk) return Result(err);
  return Result(impl_->Start(listenSocket, ov, [&](SOCKET h) {
    LPFN_ACCEPTEX acceptEx = AcceptExFn(h);
    if (acceptEx == nullptr) return static_cast<int>(kSockInvalidArg);
    Socket accepted = TcpSocket();
    if (accepted == kInvalidSocket) return LastSocketError();
    ov->acceptSocket = accepted;
    DWORD bytes = 0;
    const int started = Started(acceptEx(h, Sys(accepted), ov->system + kAcceptAreaOffset, 0, kAcceptAddrBytes,
                                         kAcceptAddrBytes, &bytes, SysOv(ov)) != FALSE);
    if (started != kSockOk) {
      CloseSocket(accepted);
      ov->acceptSocket = kInvalidSocket;
    }
    return started;
  }));
}

void CompletionPort::CloseSocket(Socket s) {
  Impl& m = *impl_;
  if (s == kInvalidSocket) return;
  // Pending operations complete with "aborted" (sorted as a reset); under
  // the table lock no start is inside a call on the socket.
  std::lock_guard<std::mutex> lk(m.tableMu);
  m.table.erase(Sys(s));
  ::closesocket(Sys(s));
}

}  // namespace plat
