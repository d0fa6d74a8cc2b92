// Puts a test CA into the prefix's trusted roots, or takes it out again, so
// that the program's certificate check meets a server of the test's own CA:
//   zkq_e2e_root_store add|remove CA.der
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fputs("usage: zkq_e2e_root_store add|remove CA.der\n", stderr);
    return 2;
  }
  std::ifstream file(argv[2], std::ios::binary);
  const std::vector<BYTE> der{std::istreambuf_iterator<char>(file), {}};
  if (der.empty()) {
    std::fputs("the certificate cannot be read\n", stderr);
    return 2;
  }
  const std::wstring verb = argv[1];
  if (verb == L"add") {
    if (CertAddEncodedCertificateToSystemStoreW(L"Root", der.data(), static_cast<DWORD>(der.size())))
      return 0;
    std::fprintf(stderr, "adding failed: %lu\n", GetLastError());
    return 1;
  }
  HCERTSTORE store = CertOpenSystemStoreW(0, L"Root");
  PCCERT_CONTEXT wanted =
      CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  if (store == nullptr || wanted == nullptr) {
    std::fprintf(stderr, "the store or the certificate cannot be opened: %lu\n", GetLastError());
    return 1;
  }
  int removed = 0;
  // Deleting frees the context it is given, so each search starts afresh.
  while (PCCERT_CONTEXT found =
             CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr)) {
    if (!CertDeleteCertificateFromStore(found)) break;
    ++removed;
  }
  CertFreeCertificateContext(wanted);
  CertCloseStore(store, 0);
  return verb == L"remove" && removed > 0 ? 0 : 1;
}
