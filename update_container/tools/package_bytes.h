#ifndef UPDATE_CONTAINER_TOOLS_PACKAGE_BYTES_H_
#define UPDATE_CONTAINER_TOOLS_PACKAGE_BYTES_H_

// Contents of the generated packages. A real container carries the module's firmware; a built
// one carries stand-ins of the same lengths: the common 32-byte header that every package starts
// with, then bytes from a small generator seeded by the package's name, so that every build gives
// the same bytes and no two packages look alike.

#include <stddef.h>
#include <stdint.h>

namespace uc_packages {

constexpr size_t kHeaderSize = 32;

// Magic, format version 1, header size, then zero padding.
constexpr unsigned char kHeader[kHeaderSize] = {
    'T',  'V',  'K',  'P',  'K',  'G',  0x00, 0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

// Byte source for the part after the header (xorshift32 over an FNV-1a hash of the name).
class BodyBytes {
 public:
  explicit BodyBytes(const char* name) {
    uint32_t hash = 2166136261u;
    for (const char* p = name; *p != '\0'; ++p) {
      hash ^= static_cast<unsigned char>(*p);
      hash *= 16777619u;
    }
    state_ = hash == 0 ? 1u : hash;
  }

  unsigned char Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<unsigned char>(state_ >> 24);
  }

 private:
  uint32_t state_;
};

// Fills out[0..length) with the package of that name.
inline void FillPackage(const char* name, unsigned char* out, size_t length) {
  BodyBytes body(name);
  for (size_t i = 0; i < length; ++i) {
    out[i] = i < kHeaderSize ? kHeader[i] : body.Next();
  }
}

}  // namespace uc_packages

#endif  // UPDATE_CONTAINER_TOOLS_PACKAGE_BYTES_H_
