// SPDX-License-Identifier: Apache-2.0
#include "jet/storage/page_codec.h"

#include <algorithm>
#include <utility>

#include "jet/storage/office_crypt.h"

namespace jet {

void Rc4Apply(std::span<const uint8_t> key, std::span<uint8_t> data) {
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
  for (size_t i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % key.size()]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  uint8_t i = 0, j = 0;
  for (uint8_t& b : data) {
    i = uint8_t(i + 1);
    j = uint8_t(j + s[i]);
    std::swap(s[i], s[j]);
    b ^= s[uint8_t(s[i] + s[j])];
  }
}

void PageCodec::Apply(uint32_t page_number, std::span<uint8_t> page) const {
  if (key_ == 0 || page_number == 0) return;
  if (std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0; })) return;
  const uint32_t k = key_ ^ page_number;
  const uint8_t key[4] = {uint8_t(k), uint8_t(k >> 8), uint8_t(k >> 16), uint8_t(k >> 24)};
  Rc4Apply(key, page);
}

Status PageCodec::Decode(uint32_t page_number, std::span<uint8_t> page) const {
  if (office_) return office_->Decode(page_number, page);
  Apply(page_number, page);
  return Status::Ok();
}

void PageCodec::Encode(uint32_t page_number, std::span<uint8_t> page) const {
  Apply(page_number, page);
}

}  // namespace jet
