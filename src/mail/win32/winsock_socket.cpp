#include "mail/win32/winsock_socket.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/win32/wide.h"
#include "mail/socket_errors.h"
#include "mail/tls_socket.h"

namespace zkq::win32 {
namespace {

constexpr UINT kSocketMessage = WM_APP + 1;
// A lookup has ended: wParam is its number.
constexpr UINT kResolvedMessage = WM_APP + 2;
constexpr UINT_PTR kTimeoutTimer = 1;
constexpr wchar_t kClassName[] = L"zkQuorvaneSocketWindow";

ATOM RegisterOnce() {
  static const ATOM atom = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    return RegisterClassExW(&windowClass);
  }();
  return atom;
}

std::int32_t LastError() { return WSAGetLastError(); }

// Every address of host, in the resolver's order; 0 or the lookup's error.
int Resolve(const std::wstring& host, std::uint16_t port, int flags,
            std::vector<sockaddr_storage>& storages, std::vector<int>& lengths) {
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = flags;
  ADDRINFOW* found = nullptr;
  const std::wstring service = std::to_wstring(port);
  if (const int error = GetAddrInfoW(host.c_str(), service.c_str(), &hints, &found); error != 0) {
    return error;
  }
  for (const ADDRINFOW* entry = found; entry != nullptr; entry = entry->ai_next) {
    sockaddr_storage storage{};
    const std::size_t length = std::min<std::size_t>(entry->ai_addrlen, sizeof storage);
    std::memcpy(&storage, entry->ai_addr, length);
    storages.push_back(storage);
    lengths.push_back(static_cast<int>(length));
  }
  FreeAddrInfoW(found);
  return storages.empty() ? kWsaHostNotFound : 0;
}

}  // namespace

WinsockSocket::WinsockSocket() {
  RegisterOnce();
  window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
  if (window_ != nullptr) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure));
  }
}

WinsockSocket::~WinsockSocket() {
  Close();
  for (auto& [id, resolver] : resolvers_) {
    if (resolver.thread.joinable()) resolver.thread.join();
  }
  Stop();
  if (window_ != nullptr) DestroyWindow(window_);
}

std::u16string WinsockSocket::Start() {
  if (started_) return u"";
  WSADATA data{};
  const int result = WSAStartup(MAKEWORD(1, 1), &data);
  started_ = result == 0;
  return SocketStartMessage(result, data.wVersion, static_cast<std::int16_t>(data.iMaxSockets));
}

void WinsockSocket::Stop() {
  if (started_) WSACleanup();
  started_ = false;
}

// The socket itself is made per address in Connect, of that address's family.
std::int32_t WinsockSocket::Open() {
  Close();
  if (!started_) return WSANOTINITIALISED;
  opened_ = true;
  return 0;
}

std::int32_t WinsockSocket::Connect(std::u16string_view host, std::uint16_t port) {
  if (!opened_) return WSAENOTSOCK;
  if (window_ == nullptr) return WSAEINVAL;
  if (host.empty()) return kWsaHostNotFound;
  const std::wstring name = ToWide(host);
  std::vector<sockaddr_storage> storages;
  std::vector<int> lengths;
  // An address literal needs no lookup.
  if (Resolve(name, port, AI_NUMERICHOST, storages, lengths) == 0) {
    addresses_.clear();
    for (std::size_t i = 0; i < storages.size(); ++i)
      addresses_.push_back({storages[i], lengths[i]});
    next_ = 0;
    return ConnectNext();
  }
  auto lookup = std::make_shared<Lookup>();
  lookup->host = name;
  lookup->port = port;
  const std::uint32_t id = ++lastLookup_;
  const HWND window = window_;
  Resolver resolver;
  resolver.lookup = lookup;
  resolver.thread = std::thread([lookup, window, id]() noexcept {
    try {
      std::vector<sockaddr_storage> found;
      std::vector<int> sizes;
      lookup->error = Resolve(lookup->host, lookup->port, 0, found, sizes);
      for (std::size_t i = 0; i < found.size(); ++i)
        lookup->addresses.push_back({found[i], sizes[i]});
    } catch (...) {
      lookup->error = WSA_NOT_ENOUGH_MEMORY;
    }
    PostMessageW(window, kResolvedMessage, id, 0);
  });
  resolvers_.emplace(id, std::move(resolver));
  awaited_ = id;
  return 0;
}

void WinsockSocket::OnResolved(std::uint32_t id) {
  const auto found = resolvers_.find(id);
  if (found == resolvers_.end()) return;
  // The thread has posted its last word: joining it takes no time.
  if (found->second.thread.joinable()) found->second.thread.join();
  const std::shared_ptr<Lookup> lookup = std::move(found->second.lookup);
  resolvers_.erase(found);
  // A lookup for a socket closed since, or replaced by another connect.
  if (id != awaited_ || !opened_) return;
  awaited_ = 0;
  if (lookup->error != 0) {
    Tell(SocketEvent::Connect, lookup->error);
    return;
  }
  addresses_ = lookup->addresses;
  next_ = 0;
  if (const std::int32_t error = ConnectNext(); error != 0) Tell(SocketEvent::Connect, error);
}

// Starts connecting to the next address of the list; the error of the last
// one when none is left.
std::int32_t WinsockSocket::ConnectNext() {
  std::int32_t error = kWsaHostNotFound;
  while (next_ < addresses_.size()) {
    const Address& address = addresses_[next_++];
    DropSocket();
    socket_.Reset(::socket(address.storage.ss_family, SOCK_STREAM, IPPROTO_TCP));
    if (!socket_) {
      error = LastError();
      continue;
    }
    // Arming makes the socket non-blocking, so it comes before the connect.
    if (WSAAsyncSelect(socket_.Get(), window_, kSocketMessage, FD_CONNECT) == SOCKET_ERROR) {
      error = LastError();
      continue;
    }
    if (::connect(socket_.Get(), reinterpret_cast<const sockaddr*>(&address.storage),
                  address.length) == 0) {
      return 0;
    }
    error = LastError();
    if (error == WSAEWOULDBLOCK) return 0;
  }
  return error;
}

Transfer WinsockSocket::Send(std::span<const char> bytes) {
  const int length = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
  const int sent = ::send(socket_.Get(), bytes.data(), length, 0);
  if (sent == SOCKET_ERROR) return {0, LastError()};
  return {static_cast<std::size_t>(sent), 0};
}

Transfer WinsockSocket::Receive(std::span<char> buffer) {
  const int length = static_cast<int>(std::min<std::size_t>(buffer.size(), INT_MAX));
  const int got = ::recv(socket_.Get(), buffer.data(), length, 0);
  if (got == SOCKET_ERROR) return {0, LastError()};
  return {static_cast<std::size_t>(got), 0};
}

std::int32_t WinsockSocket::Arm(SocketEvent event) {
  if (!socket_) return WSAENOTSOCK;
  const long kinds = event == SocketEvent::Read    ? FD_READ | FD_CLOSE
                     : event == SocketEvent::Write ? FD_WRITE
                                                   : FD_CONNECT;
  if (WSAAsyncSelect(socket_.Get(), window_, kSocketMessage, kinds) == SOCKET_ERROR) {
    return LastError();
  }
  return 0;
}

// Notifications already posted for the closed socket must not reach the next one.
void WinsockSocket::DropSocket() {
  socket_.Reset();
  MSG stale;
  while (window_ != nullptr &&
         PeekMessageW(&stale, window_, kSocketMessage, kSocketMessage, PM_REMOVE)) {
  }
}

void WinsockSocket::Close() {
  DropSocket();
  opened_ = false;
  awaited_ = 0;
  addresses_.clear();
  next_ = 0;
}

std::u16string WinsockSocket::LocalAddress() {
  sockaddr_storage address{};
  int length = sizeof address;
  wchar_t text[NI_MAXHOST] = {};
  if (!socket_ || getsockname(socket_.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      GetNameInfoW(reinterpret_cast<sockaddr*>(&address), length, text, NI_MAXHOST, nullptr, 0,
                   NI_NUMERICHOST) != 0) {
    return u"";
  }
  return FromWide(text, wcslen(text));
}

void WinsockSocket::WindowTimer::Start(std::int32_t milliseconds) {
  SetTimer(owner_.window_, kTimeoutTimer, static_cast<UINT>(std::max(milliseconds, 1)), nullptr);
}

void WinsockSocket::WindowTimer::Stop() { KillTimer(owner_.window_, kTimeoutTimer); }

void WinsockSocket::Tell(SocketEvent event, std::int32_t error) {
  SocketEvents* target = events_ != nullptr ? events_ : session_;
  if (target != nullptr) target->OnSocketEvent(event, error);
}

void WinsockSocket::OnNotification(WPARAM socket, LPARAM lParam) {
  if (!socket_ || static_cast<SOCKET>(socket) != socket_.Get()) return;
  const std::int32_t error = WSAGETSELECTERROR(lParam);
  switch (WSAGETSELECTEVENT(lParam)) {
    case FD_CONNECT:
      // A refused or unreachable address gives way to the next one.
      if (error != 0 && next_ < addresses_.size() && ConnectNext() == 0) return;
      Tell(SocketEvent::Connect, error);
      break;
    case FD_READ:
      Tell(SocketEvent::Read, error);
      break;
    case FD_CLOSE:
      // The receive that follows reads what is left, then the end or the reset.
      Tell(SocketEvent::Read, 0);
      break;
    case FD_WRITE:
      Tell(SocketEvent::Write, error);
      break;
    default:
      break;
  }
}

LRESULT CALLBACK WinsockSocket::Procedure(HWND window, UINT message, WPARAM wParam,
                                          LPARAM lParam) noexcept {
  auto* self = reinterpret_cast<WinsockSocket*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  try {
    if (self != nullptr && message == kSocketMessage) {
      self->OnNotification(wParam, lParam);
      return 0;
    }
    if (self != nullptr && message == kResolvedMessage) {
      self->OnResolved(static_cast<std::uint32_t>(wParam));
      return 0;
    }
    if (self != nullptr && message == WM_TIMER && wParam == kTimeoutTimer) {
      KillTimer(window, kTimeoutTimer);
      if (self->session_ != nullptr) self->session_->OnTimeout();
      return 0;
    }
  } catch (...) {
    // Nothing may leave a window procedure; the session's time-out still ends the send.
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RunUntilEnded(SmtpSession& session) {
  MSG message;
  while (session.Running()) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      session.Cancel();
      if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace zkq::win32

namespace zkq {

SendResult SendOverSystemSockets(const SmtpRequest& request, SendObserver& observer,
                                 MessageBoxes& boxes, std::u16string_view caFile) {
  win32::WinsockSocket raw;
  TlsSocket socket(raw, MakeSystemTlsEngine(caFile));
  raw.Route(&socket);
  SmtpSession session(request, socket, raw.Timer(), observer, boxes);
  raw.Attach(&session);
  socket.Attach(&session);
  if (!session.StartSockets()) return session.Result();
  session.Send();
  win32::RunUntilEnded(session);
  return session.Result();
}

SendResult SendOverSystemSockets(const SmtpRequest& request, SendObserver& observer,
                                 MessageBoxes& boxes) {
  return SendOverSystemSockets(request, observer, boxes, u"");
}

}  // namespace zkq
