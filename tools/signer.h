// Who signed a Windows executable: read from the PKCS#7 SignedData of its Authenticode signature.
// Only the structure is read; nothing is verified cryptographically (osslsigncode verify does
// that).
#ifndef TOOLS_SIGNER_H_
#define TOOLS_SIGNER_H_

#include <string>

struct SignerInfo {
  std::string subject;  // "/CN=.../O=...", as OpenSSL prints a name
  std::string issuer;
  std::string certificate;  // the signer's certificate (DER), to compare two signers exactly
};

// Finds the certificate of the first signer of the SignedData in der. False, with a reason in
// error, when the data is not a SignedData or names a signer whose certificate it does not carry.
bool ReadSigner(const std::string& der, SignerInfo* signer, std::string* error);

#endif  // TOOLS_SIGNER_H_
