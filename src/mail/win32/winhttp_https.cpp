// The token endpoint's HTTPS on Windows: WinHTTP, part of the system. The
// server's certificate is checked by the same chain check as the SMTP
// connection's before any byte of the form (which holds the secret) goes out.
#include <windows.h>
#include <winhttp.h>

#include <string>

#include "base/text.h"
#include "base/win32/handles.h"
#include "base/win32/wide.h"
#include "mail/oauth_token.h"
#include "mail/win32/schannel_engine.h"

namespace zkq {
namespace {

inline void CloseInternet(HINTERNET handle) { WinHttpCloseHandle(handle); }
using UniqueInternet = win32::UniqueHandle<win32::NullEmpty<HINTERNET, CloseInternet>>;

// The answer's body is at most this large; no token answer comes near it.
constexpr DWORD kMostBodyBytes = 1 << 20;

std::u16string ErrorText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      GetModuleHandleW(L"winhttp.dll"), error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  // Appended piece by piece: GCC 12 misreads a literal + a temporary as an overlap.
  std::u16string shown(u"WinHTTP ");
  shown.append(FromUtf8(std::to_string(error)));
  if (length > 0 && text != nullptr) {
    shown.push_back(u' ');
    shown.append(TrimView(win32::FromWide(text, length)));
  }
  if (text != nullptr) LocalFree(text);
  return shown;
}

HttpsAnswer Failed(HttpsAnswer::Outcome outcome, DWORD error) {
  return HttpsAnswer{.outcome = outcome, .detail = ErrorText(error)};
}

bool TlsError(DWORD error) {
  return error == ERROR_WINHTTP_SECURE_FAILURE || error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR ||
         error == ERROR_WINHTTP_SECURE_INVALID_CERT ||
         error == ERROR_WINHTTP_SECURE_CERT_CN_INVALID ||
         error == ERROR_WINHTTP_SECURE_INVALID_CA ||
         error == ERROR_WINHTTP_SECURE_CERT_DATE_INVALID;
}

class WinHttpHttps final : public HttpsPoster {
 public:
  WinHttpHttps(std::u16string caFile, std::int32_t timeoutSeconds)
      : caFile_(std::move(caFile)), timeoutSeconds_(timeoutSeconds) {}

  HttpsAnswer PostForm(const std::u16string& url, const std::string& body) override {
    using Outcome = HttpsAnswer::Outcome;
    std::wstring address = win32::ToWide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
        static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(address.c_str(), 0, 0, &parts) || parts.nScheme != INTERNET_SCHEME_HTTPS) {
      return Failed(Outcome::Unreachable, GetLastError());
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    win32::UniqueCertificateStore caStore;
    if (!caFile_.empty()) {
      caStore = win32::LoadCaCertificates(caFile_);
      if (!caStore) return HttpsAnswer{.outcome = Outcome::Untrusted, .detail = caFile_};
    }

    const UniqueInternet session(WinHttpOpen(L"zkQuorvane", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return Failed(Outcome::Unreachable, GetLastError());
    if (timeoutSeconds_ > 0) {
      const int ms = timeoutSeconds_ * 1000;
      WinHttpSetTimeouts(session.Get(), ms, ms, ms, ms);
    }
    const UniqueInternet connection(WinHttpConnect(session.Get(), host.c_str(), parts.nPort, 0));
    if (!connection) return Failed(Outcome::Unreachable, GetLastError());
    const UniqueInternet request(
        WinHttpOpenRequest(connection.Get(), L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request) return Failed(Outcome::Unreachable, GetLastError());
    // A redirect would take the form to a server whose certificate nobody checked.
    DWORD features = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features);
    if (caStore) {
      // A CA of the file is not one WinHTTP knows: the check below decides.
      DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
      WinHttpSetOption(request.Get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    }
    const wchar_t kHeaders[] = L"Content-Type: application/x-www-form-urlencoded\r\n";
    // The headers alone: the body waits for the certificate check.
    if (!WinHttpSendRequest(request.Get(), kHeaders, static_cast<DWORD>(-1L),
                            WINHTTP_NO_REQUEST_DATA, 0, static_cast<DWORD>(body.size()), 0)) {
      const DWORD error = GetLastError();
      return Failed(TlsError(error) ? Outcome::Untrusted : Outcome::Unreachable, error);
    }
    PCCERT_CONTEXT remote = nullptr;
    DWORD size = sizeof remote;
    if (!WinHttpQueryOption(request.Get(), WINHTTP_OPTION_SERVER_CERT_CONTEXT, &remote, &size) ||
        remote == nullptr) {
      return Failed(Outcome::Untrusted, ERROR_WINHTTP_SECURE_FAILURE);
    }
    if (win32::CheckServerCertificate(win32::UniqueCertificate(remote), host, caStore.Get()) != 0) {
      return Failed(Outcome::Untrusted, ERROR_WINHTTP_SECURE_INVALID_CA);
    }
    DWORD written = 0;
    if (!WinHttpWriteData(request.Get(), body.data(), static_cast<DWORD>(body.size()), &written) ||
        !WinHttpReceiveResponse(request.Get(), nullptr)) {
      return Failed(Outcome::Unreachable, GetLastError());
    }
    DWORD status = 0;
    size = sizeof status;
    WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    HttpsAnswer answer{.outcome = Outcome::Answered, .status = static_cast<int>(status)};
    for (;;) {
      char buffer[8192];
      DWORD got = 0;
      if (!WinHttpReadData(request.Get(), buffer, sizeof buffer, &got)) {
        return Failed(Outcome::Unreachable, GetLastError());
      }
      if (got == 0) break;
      answer.body.append(buffer, got);
      if (answer.body.size() > kMostBodyBytes) break;
    }
    return answer;
  }

 private:
  std::u16string caFile_;
  std::int32_t timeoutSeconds_;
};

}  // namespace

std::unique_ptr<HttpsPoster> MakeSystemHttps(std::u16string_view caFile,
                                             std::int32_t timeoutSeconds) {
  return std::make_unique<WinHttpHttps>(std::u16string(caFile), timeoutSeconds);
}

}  // namespace zkq
