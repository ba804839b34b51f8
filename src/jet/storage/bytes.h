// SPDX-License-Identifier: Apache-2.0
// Little- and big-endian integer access to page bytes.
//
// Every read from a page goes through a ByteView, which knows its own length,
// so a damaged offset inside a page can never read outside the buffer. The
// checked readers return false instead; callers turn that into a Corrupt
// status with the page number.

#ifndef JET_STORAGE_BYTES_H_
#define JET_STORAGE_BYTES_H_

#include "jet/internal/guard.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace jet {

using ByteView = std::span<const uint8_t>;

inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Le24(const uint8_t* p) { return uint32_t(p[0] | (p[1] << 8) | (p[2] << 16)); }
inline uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t Le64(const uint8_t* p) { return uint64_t(Le32(p)) | (uint64_t(Le32(p + 4)) << 32); }
inline uint32_t Be24(const uint8_t* p) { return uint32_t((p[0] << 16) | (p[1] << 8) | p[2]); }
inline uint32_t Be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutLe24(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  PutLe16(p, uint16_t(v));
  PutLe16(p + 2, uint16_t(v >> 16));
}
inline void PutBe24(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 16);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v);
}
inline void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

// True when [offset, offset + size) lies inside a buffer of length `length`.
inline bool InBounds(size_t length, size_t offset, size_t size) {
  return offset <= length && size <= length - offset;
}

// Checked reads: false when the field would run past the view.
inline bool ReadLe16(ByteView v, size_t off, uint16_t* out) {
  if (!InBounds(v.size(), off, 2)) return false;
  *out = Le16(v.data() + off);
  return true;
}
inline bool ReadLe32(ByteView v, size_t off, uint32_t* out) {
  if (!InBounds(v.size(), off, 4)) return false;
  *out = Le32(v.data() + off);
  return true;
}

inline double BitsToDouble(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline float BitsToFloat(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

}  // namespace jet

#endif  // JET_STORAGE_BYTES_H_
