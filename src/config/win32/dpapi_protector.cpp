#include "config/win32/dpapi_protector.h"

#include <windows.h>
// after windows.h
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

// The program's own secondary entropy: another program that calls DPAPI on
// this machine cannot unprotect the blob without knowing it. It is no secret
// from whoever can read this executable; the state folder's permissions are
// what keep the blob from other accounts.
constexpr char kEntropy[] = "zkQuorvane SMTP password / 2026";

DATA_BLOB EntropyBlob() {
  return {static_cast<DWORD>(sizeof(kEntropy) - 1),
          reinterpret_cast<BYTE*>(const_cast<char*>(kEntropy))};
}

}  // namespace

std::optional<std::string> DpapiProtector::Protect(std::string_view clear) {
  return Transform(clear, [](DATA_BLOB* in, DATA_BLOB* out) {
    DATA_BLOB entropy = EntropyBlob();
    return CryptProtectData(in, L"zkQuorvane SMTP", &entropy, nullptr, nullptr,
                            CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN, out) != FALSE;
  });
}

std::optional<std::string> DpapiProtector::Unprotect(std::string_view blob) {
  // A password protected by an older version has no entropy: it still reads.
  for (const bool withEntropy : {true, false}) {
    auto clear = Transform(blob, [withEntropy](DATA_BLOB* in, DATA_BLOB* out) {
      DATA_BLOB entropy = EntropyBlob();
      return CryptUnprotectData(in, nullptr, withEntropy ? &entropy : nullptr, nullptr, nullptr,
                                CRYPTPROTECT_UI_FORBIDDEN, out) != FALSE;
    });
    if (clear) return clear;
  }
  return std::nullopt;
}

}  // namespace zkq::win32
