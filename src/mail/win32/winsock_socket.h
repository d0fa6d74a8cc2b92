#pragma once
// The socket port on Windows Sockets: WSAAsyncSelect posts every notification
// to a hidden message-only window of this object, whose procedure hands it on
// on the UI thread. A server name is looked up on a worker thread that posts
// its answer to the same window, so a slow DNS never freezes the UI; then each
// of its addresses, IPv6 and IPv4, is tried in turn. The same window carries an
// inactivity timer (Timer()), for drivers that have no timer of their own.
#include <ws2tcpip.h>

#include <cstdint>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "base/win32/handles.h"
#include "mail/smtp_session.h"

namespace zkq::win32 {

class WinsockSocket : public SocketPort {
 public:
  WinsockSocket();
  WinsockSocket(const WinsockSocket&) = delete;
  WinsockSocket& operator=(const WinsockSocket&) = delete;
  // Waits for a lookup still under way (its thread is owned here).
  ~WinsockSocket() override;

  // The session that receives the time-out, and the notifications unless
  // Route sends them elsewhere.
  void Attach(SmtpSession* session) { session_ = session; }
  // Where the notifications go instead (a TlsSocket over this socket).
  void Route(SocketEvents* events) { events_ = events; }
  // A timer on the hidden window; its end reaches the attached session.
  SessionTimer& Timer() { return timer_; }

  std::u16string Start() override;
  void Stop() override;
  std::int32_t Open() override;
  std::int32_t Connect(std::u16string_view host, std::uint16_t port) override;
  Transfer Send(std::span<const char> bytes) override;
  Transfer Receive(std::span<char> buffer) override;
  // Read also arms FD_CLOSE: a server that hangs up is heard at once.
  std::int32_t Arm(SocketEvent event) override;
  void Close() override;
  std::u16string LocalAddress() override;

 private:
  class WindowTimer : public SessionTimer {
   public:
    explicit WindowTimer(WinsockSocket& owner) : owner_(owner) {}
    void Start(std::int32_t milliseconds) override;
    void Stop() override;

   private:
    WinsockSocket& owner_;
  };
  struct Address {
    sockaddr_storage storage;
    int length;
  };
  // One lookup, shared by its thread and this object until its answer is taken.
  struct Lookup {
    std::wstring host;
    std::uint16_t port = 0;
    int error = 0;
    std::vector<Address> addresses;
  };
  struct Resolver {
    std::thread thread;
    std::shared_ptr<Lookup> lookup;
  };

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam,
                                    LPARAM lParam) noexcept;
  void OnNotification(WPARAM socket, LPARAM lParam);
  void OnResolved(std::uint32_t id);
  std::int32_t ConnectNext();
  void DropSocket();
  void Tell(SocketEvent event, std::int32_t error);

  HWND window_ = nullptr;
  UniqueSocket socket_;
  bool started_ = false;
  bool opened_ = false;
  SmtpSession* session_ = nullptr;
  SocketEvents* events_ = nullptr;
  WindowTimer timer_{*this};
  std::vector<Address> addresses_;
  std::size_t next_ = 0;
  std::map<std::uint32_t, Resolver> resolvers_;
  std::uint32_t lastLookup_ = 0;
  std::uint32_t awaited_ = 0;  // the lookup whose answer the open socket waits for
};

// Runs the thread's message loop until the session has ended.
void RunUntilEnded(SmtpSession& session);

}  // namespace zkq::win32
