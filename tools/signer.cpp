#include "tools/signer.h"

#include <cstddef>
#include <cstdio>
#include <vector>

namespace {

// One DER element: its tag, the whole encoding (to compare names and serial numbers byte for byte)
// and its contents.
struct Element {
  unsigned tag = 0;
  std::string whole;
  std::string contents;
};

// The elements of a constructed element's contents, read in order.
class DerReader {
 public:
  explicit DerReader(const std::string& bytes) : bytes_(bytes) {}

  bool AtEnd() const { return at_ >= bytes_.size(); }
  unsigned PeekTag() const { return AtEnd() ? 0 : static_cast<unsigned char>(bytes_[at_]); }

  bool Next(Element* element) {
    const size_t start = at_;
    if (bytes_.size() - at_ < 2) return false;
    element->tag = static_cast<unsigned char>(bytes_[at_++]);
    if ((element->tag & 0x1F) == 0x1F) return false;  // multi-byte tags occur nowhere here
    size_t length = static_cast<unsigned char>(bytes_[at_++]);
    if (length & 0x80) {
      const size_t count = length & 0x7F;
      if (count == 0 || count > 4 || bytes_.size() - at_ < count)
        return false;  // no indefinite form
      length = 0;
      for (size_t i = 0; i < count; ++i)
        length = length << 8 | static_cast<unsigned char>(bytes_[at_++]);
    }
    if (bytes_.size() - at_ < length) return false;
    element->contents.assign(bytes_, at_, length);
    at_ += length;
    element->whole.assign(bytes_, start, at_ - start);
    return true;
  }
  bool Expect(unsigned tag, Element* element) { return Next(element) && element->tag == tag; }

 private:
  const std::string& bytes_;
  size_t at_ = 0;
};

constexpr unsigned kInteger = 0x02, kOid = 0x06, kSequence = 0x30, kSet = 0x31;
constexpr unsigned kContext0 = 0xA0, kContext1 = 0xA1;

std::string OidText(const std::string& contents) {
  std::string text;
  unsigned long value = 0;
  bool first = true;
  for (unsigned char c : contents) {
    value = value << 7 | (c & 0x7F);
    if (c & 0x80) continue;
    if (first) {
      const unsigned long top = value < 40 ? 0 : value < 80 ? 1 : 2;
      text = std::to_string(top) + "." + std::to_string(value - top * 40);
      first = false;
    } else {
      text += "." + std::to_string(value);
    }
    value = 0;
  }
  return text;
}

// The short names OpenSSL prints for the attributes seen in code-signing certificates.
std::string AttributeName(const std::string& oid) {
  static const struct {
    const char* oid;
    const char* name;
  } kNames[] = {
      {"2.5.4.3", "CN"},
      {"2.5.4.6", "C"},
      {"2.5.4.7", "L"},
      {"2.5.4.8", "ST"},
      {"2.5.4.10", "O"},
      {"2.5.4.11", "OU"},
      {"2.5.4.5", "serialNumber"},
      {"1.2.840.113549.1.9.1", "emailAddress"},
  };
  for (const auto& entry : kNames) {
    if (oid == entry.oid) return entry.name;
  }
  return oid;
}

// A string attribute's value as UTF-8 (BMPString is UTF-16BE; the others are taken as bytes).
std::string AttributeValue(const Element& value) {
  if (value.tag != 0x1E) return value.contents;
  std::string text;
  for (size_t i = 0; i + 1 < value.contents.size(); i += 2) {
    const unsigned c = static_cast<unsigned char>(value.contents[i]) << 8 |
                       static_cast<unsigned char>(value.contents[i + 1]);
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else if (c < 0x800) {
      text += static_cast<char>(0xC0 | c >> 6);
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      text += static_cast<char>(0xE0 | c >> 12);
      text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

bool NameText(const std::string& contents, std::string* text) {
  text->clear();
  DerReader name(contents);
  Element set, attribute, oid, value;
  while (!name.AtEnd()) {
    if (!name.Expect(kSet, &set)) return false;
    DerReader attributes(set.contents);
    while (!attributes.AtEnd()) {
      if (!attributes.Expect(kSequence, &attribute)) return false;
      DerReader pair(attribute.contents);
      if (!pair.Expect(kOid, &oid) || !pair.Next(&value)) return false;
      *text += "/" + AttributeName(OidText(oid.contents)) + "=" + AttributeValue(value);
    }
  }
  return true;
}

struct Certificate {
  std::string whole, serial, issuer, issuerContents, subjectContents;
};

bool ReadCertificate(const Element& element, Certificate* certificate) {
  Element tbs, serial, algorithm, issuer, validity, subject, version;
  DerReader outer(element.contents);
  if (!outer.Expect(kSequence, &tbs)) return false;
  DerReader fields(tbs.contents);
  if (fields.PeekTag() == kContext0 && !fields.Next(&version)) return false;
  if (!fields.Expect(kInteger, &serial) || !fields.Expect(kSequence, &algorithm) ||
      !fields.Expect(kSequence, &issuer) || !fields.Expect(kSequence, &validity) ||
      !fields.Expect(kSequence, &subject)) {
    return false;
  }
  *certificate = {element.whole, serial.whole, issuer.whole, issuer.contents, subject.contents};
  return true;
}

bool Fail(std::string* error, const char* text) {
  *error = text;
  return false;
}

}  // namespace

bool ReadSigner(const std::string& der, SignerInfo* signer, std::string* error) {
  Element contentInfo, type, explicitContent, signedData, version, digests, content, element;
  DerReader top(der);
  if (!top.Expect(kSequence, &contentInfo)) return Fail(error, "not a DER ContentInfo");
  DerReader info(contentInfo.contents);
  if (!info.Expect(kOid, &type) || OidText(type.contents) != "1.2.840.113549.1.7.2") {
    return Fail(error, "not a PKCS#7 SignedData");
  }
  if (!info.Expect(kContext0, &explicitContent)) return Fail(error, "SignedData has no content");
  DerReader outer(explicitContent.contents);
  if (!outer.Expect(kSequence, &signedData)) return Fail(error, "SignedData is not a sequence");
  DerReader fields(signedData.contents);
  if (!fields.Expect(kInteger, &version) || !fields.Expect(kSet, &digests) ||
      !fields.Expect(kSequence, &content)) {
    return Fail(error, "SignedData is malformed");
  }
  std::vector<Certificate> certificates;
  Element signerInfos;
  bool haveSigners = false;
  while (!fields.AtEnd() && !haveSigners) {
    if (!fields.Next(&element)) return Fail(error, "SignedData is malformed");
    if (element.tag == kContext0) {
      DerReader list(element.contents);
      Element one;
      while (!list.AtEnd()) {
        Certificate certificate;
        if (!list.Expect(kSequence, &one) || !ReadCertificate(one, &certificate)) {
          return Fail(error, "a certificate in the signature is malformed");
        }
        certificates.push_back(certificate);
      }
    } else if (element.tag == kSet) {
      signerInfos = element;
      haveSigners = true;
    } else if (element.tag != kContext1) {
      return Fail(error, "SignedData is malformed");
    }
  }
  if (!haveSigners) return Fail(error, "the signature names no signer");
  DerReader signers(signerInfos.contents);
  Element first, signerVersion, issuerAndSerial, issuer, serial;
  if (!signers.Expect(kSequence, &first)) return Fail(error, "the signature names no signer");
  DerReader signerFields(first.contents);
  if (!signerFields.Expect(kInteger, &signerVersion) ||
      !signerFields.Expect(kSequence, &issuerAndSerial)) {
    return Fail(error, "the signer is not named by issuer and serial number");
  }
  DerReader names(issuerAndSerial.contents);
  if (!names.Expect(kSequence, &issuer) || !names.Expect(kInteger, &serial)) {
    return Fail(error, "the signer's issuer and serial number are malformed");
  }
  for (const Certificate& certificate : certificates) {
    if (certificate.issuer != issuer.whole || certificate.serial != serial.whole) continue;
    if (!NameText(certificate.subjectContents, &signer->subject) ||
        !NameText(certificate.issuerContents, &signer->issuer)) {
      return Fail(error, "the signer's certificate has a malformed name");
    }
    signer->certificate = certificate.whole;
    return true;
  }
  return Fail(error, "the signature does not carry the signer's certificate");
}
