#include "mail/win32/winsock_socket.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <climits>

#include "base/win32/wide.h"
#include "mail/socket_errors.h"

namespace zkq::win32 {
namespace {

constexpr UINT kSocketMessage = WM_APP + 1;
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

std::int32_t WinsockSocket::Open() {
  Close();
  socket_.Reset(::socket(AF_INET, SOCK_STREAM, 0));
  return socket_ ? 0 : LastError();
}

std::int32_t WinsockSocket::Connect(std::u16string_view host, std::uint16_t port) {
  if (!socket_) return WSAENOTSOCK;
  if (window_ == nullptr) return WSAEINVAL;
  if (host.empty()) return kWsaHostNotFound;
  ADDRINFOW hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* found = nullptr;
  if (const int error = GetAddrInfoW(ToWide(host).c_str(), nullptr, &hints, &found); error != 0) {
    return error;
  }
  sockaddr_in address{};
  std::copy_n(reinterpret_cast<const char*>(found->ai_addr), sizeof address,
              reinterpret_cast<char*>(&address));
  FreeAddrInfoW(found);
  address.sin_port = htons(port);

  // Arming makes the socket non-blocking, so it comes before the connect.
  if (WSAAsyncSelect(socket_.Get(), window_, kSocketMessage, FD_CONNECT) == SOCKET_ERROR) {
    return LastError();
  }
  if (::connect(socket_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return 0;
  }
  const std::int32_t error = LastError();
  return error == WSAEWOULDBLOCK ? 0 : error;
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
  const long kinds = event == SocketEvent::Read    ? FD_READ
                     : event == SocketEvent::Write ? FD_WRITE
                                                   : FD_CONNECT;
  if (WSAAsyncSelect(socket_.Get(), window_, kSocketMessage, kinds) == SOCKET_ERROR) {
    return LastError();
  }
  return 0;
}

void WinsockSocket::Close() {
  socket_.Reset();
  // Notifications already posted for the closed socket must not reach the next one.
  MSG stale;
  while (window_ != nullptr &&
         PeekMessageW(&stale, window_, kSocketMessage, kSocketMessage, PM_REMOVE)) {
  }
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

void WinsockSocket::OnNotification(WPARAM socket, LPARAM lParam) {
  if (session_ == nullptr || !socket_ || static_cast<SOCKET>(socket) != socket_.Get()) return;
  const std::int32_t error = WSAGETSELECTERROR(lParam);
  switch (WSAGETSELECTEVENT(lParam)) {
    case FD_CONNECT:
      session_->OnSocketEvent(SocketEvent::Connect, error);
      break;
    case FD_READ:
      session_->OnSocketEvent(SocketEvent::Read, error);
      break;
    case FD_WRITE:
      session_->OnSocketEvent(SocketEvent::Write, error);
      break;
    default:
      break;
  }
}

LRESULT CALLBACK WinsockSocket::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<WinsockSocket*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self != nullptr && message == kSocketMessage) {
    self->OnNotification(wParam, lParam);
    return 0;
  }
  if (self != nullptr && message == WM_TIMER && wParam == kTimeoutTimer) {
    KillTimer(window, kTimeoutTimer);
    if (self->session_ != nullptr) self->session_->OnTimeout();
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
                                 MessageBoxes& boxes) {
  win32::WinsockSocket socket;
  SmtpSession session(request, socket, socket.Timer(), observer, boxes);
  socket.Attach(&session);
  if (!session.StartSockets()) return session.Result();
  session.Send();
  win32::RunUntilEnded(session);
  return session.Result();
}

}  // namespace zkq
