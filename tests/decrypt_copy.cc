// SPDX-License-Identifier: Apache-2.0
// jet_decrypt_copy: writes a plain copy of an encrypted .accdb, so that a
// reader that cannot decrypt (mdbtools) can be compared with ours.
//
//   jet_decrypt_copy IN.accdb OUT.accdb PASSWORD
//
// Every page after the header is written as the engine decrypts it; in the
// header the encryption key is cleared and the password field set to the
// mask of an empty one. Exit 0, or 1 with the reason on standard error. The
// copy is for reading by other tools in tests, not for Access.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "jet/jet.h"
#include "jet/storage/header.h"
#include "jet/storage/pager.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: jet_decrypt_copy IN.accdb OUT.accdb PASSWORD\n");
    return 2;
  }
  auto db = jet::Database::Open(argv[1], {.password = argv[3]});
  if (!db.ok()) {
    std::fprintf(stderr, "%s\n", db.status().ToString().c_str());
    return 1;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const uint32_t size = (*db)->format().page_size;
  for (uint32_t n = 1; n < (*db)->pager().page_count(); ++n) {
    auto page = (*db)->pager().Read(n);
    if (!page.ok()) {
      std::fprintf(stderr, "%s\n", page.status().ToString().c_str());
      return 1;
    }
    bytes.replace(size_t(n) * size, size, reinterpret_cast<const char*>((*page)->bytes.data()),
                  size);
  }
  auto* header = reinterpret_cast<uint8_t*>(bytes.data());
  jet::ApplyHeaderMask(header, (*db)->format());
  jet::PutLe32(header + 0x3E, 0);
  // An empty password is the mask of the creation date's whole days.
  uint8_t mask[4];
  jet::PutLe32(mask, uint32_t(int32_t(jet::BitsToDouble(jet::Le64(header + 0x72)))));
  for (int i = 0; i < 40; ++i) header[0x42 + i] = mask[i % 4];
  jet::ApplyHeaderMask(header, (*db)->format());
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
