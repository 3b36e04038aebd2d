// add-root-ca FILE.pem: adds the certificate to the local machine's trusted root store.
#include <windows.h>
// needs windows.h first
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: add-root-ca FILE.pem\n", stderr);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string pem((std::istreambuf_iterator<char>(in)), {});
  DWORD size = 0;
  if (pem.empty() ||
      !::CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr)) {
    std::fputs("add-root-ca: not a PEM certificate\n", stderr);
    return 1;
  }
  std::vector<BYTE> der(size);
  ::CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                         der.data(), &size, nullptr, nullptr);
  HCERTSTORE store =
      ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
  if (!store) {
    std::fprintf(stderr, "add-root-ca: cannot open the root store (error %lu)\n", ::GetLastError());
    return 1;
  }
  const BOOL ok = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                     CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD err = ::GetLastError();
  ::CertCloseStore(store, 0);
  if (!ok) {
    std::fprintf(stderr, "add-root-ca: certificate not added (error %lu)\n", err);
    return 1;
  }
  return 0;
}
