#pragma once
// The socket port on Windows Sockets: WSAAsyncSelect posts every notification
// to a hidden message-only window of this object, whose procedure hands it to
// the session on the UI thread. The same window carries an inactivity timer
// (Timer()), for drivers that have no timer of their own.
#include "base/win32/handles.h"
#include "mail/smtp_session.h"

namespace zkq::win32 {

class WinsockSocket : public SocketPort {
 public:
  WinsockSocket();
  WinsockSocket(const WinsockSocket&) = delete;
  WinsockSocket& operator=(const WinsockSocket&) = delete;
  ~WinsockSocket() override;

  // The session that receives the notifications and the time-out.
  void Attach(SmtpSession* session) { session_ = session; }
  // A timer on the hidden window; its end reaches the attached session.
  SessionTimer& Timer() { return timer_; }

  std::u16string Start() override;
  void Stop() override;
  std::int32_t Open() override;
  std::int32_t Connect(std::u16string_view host, std::uint16_t port) override;
  Transfer Send(std::span<const char> bytes) override;
  Transfer Receive(std::span<char> buffer) override;
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

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void OnNotification(WPARAM socket, LPARAM lParam);

  HWND window_ = nullptr;
  UniqueSocket socket_;
  bool started_ = false;
  SmtpSession* session_ = nullptr;
  WindowTimer timer_{*this};
};

// Runs the thread's message loop until the session has ended.
void RunUntilEnded(SmtpSession& session);

}  // namespace zkq::win32
