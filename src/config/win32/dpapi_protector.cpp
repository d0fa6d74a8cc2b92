#include "config/win32/dpapi_protector.h"

#include <windows.h>
#include <dpapi.h>

#include <climits>
#include <memory>

namespace zkq::win32 {
namespace {

struct LocalFreeDeleter {
  void operator()(BYTE* bytes) const { LocalFree(bytes); }
};

// Both calls hand back a LocalAlloc block; it is freed whatever happens.
template <typename Call>
std::optional<std::string> Transform(std::string_view input, Call call) {
  if (input.size() > ULONG_MAX) return std::nullopt;
  DATA_BLOB in{static_cast<DWORD>(input.size()),
               reinterpret_cast<BYTE*>(const_cast<char*>(input.data()))};
  DATA_BLOB out{};
  if (!call(&in, &out)) return std::nullopt;
  const std::unique_ptr<BYTE, LocalFreeDeleter> owner(out.pbData);
  return std::string(reinterpret_cast<const char*>(out.pbData), out.cbData);
}

}  // namespace

std::optional<std::string> DpapiProtector::Protect(std::string_view clear) {
  return Transform(clear, [](DATA_BLOB* in, DATA_BLOB* out) {
    return CryptProtectData(in, L"zkQuorvane SMTP", nullptr, nullptr, nullptr,
                            CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN, out) != FALSE;
  });
}

std::optional<std::string> DpapiProtector::Unprotect(std::string_view blob) {
  return Transform(blob, [](DATA_BLOB* in, DATA_BLOB* out) {
    return CryptUnprotectData(in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                              out) != FALSE;
  });
}

}  // namespace zkq::win32
