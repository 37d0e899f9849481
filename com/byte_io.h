#pragma once

// Little-endian reading and writing of the binary forms kept in module
// files (resource directory, type library). Reading is bounds-checked:
// every getter returns false past the end and leaves the reader there.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "com/guid.h"

namespace tarvona::com {

class ByteWriter {
 public:
  void Put8(uint8_t v) { out_.push_back(v); }
  void Put16(uint16_t v) { PutLe(v, 2); }
  void Put32(uint32_t v) { PutLe(v, 4); }
  void PutBytes(std::span<const uint8_t> bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
  }
  // A u16 length, then the bytes.
  void PutText(const std::string& text) {
    Put16(static_cast<uint16_t>(text.size()));
    out_.insert(out_.end(), text.begin(), text.begin() + static_cast<uint16_t>(text.size()));
  }
  void PutGuid(const GUID& g) {
    Put32(g.Data1);
    Put16(g.Data2);
    Put16(g.Data3);
    out_.insert(out_.end(), g.Data4, g.Data4 + 8);
  }
  std::vector<uint8_t>& bytes() { return out_; }

 private:
  void PutLe(uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  std::vector<uint8_t> out_;
};

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  bool Get8(uint8_t& v) {
    uint32_t wide = 0;
    if (!GetLe(wide, 1)) return false;
    v = static_cast<uint8_t>(wide);
    return true;
  }
  bool Get16(uint16_t& v) {
    uint32_t wide = 0;
    if (!GetLe(wide, 2)) return false;
    v = static_cast<uint16_t>(wide);
    return true;
  }
  bool Get32(uint32_t& v) { return GetLe(v, 4); }
  bool GetBytes(size_t n, std::string& out) {
    if (left() < n) return false;
    out.assign(reinterpret_cast<const char*>(bytes_.data() + pos_), n);
    pos_ += n;
    return true;
  }
  bool GetText(std::string& out) {
    uint16_t n = 0;
    return Get16(n) && GetBytes(n, out);
  }
  bool GetGuid(GUID& g) {
    if (!Get32(g.Data1) || !Get16(g.Data2) || !Get16(g.Data3) || left() < 8) return false;
    for (auto& b : g.Data4) b = bytes_[pos_++];
    return true;
  }
  size_t left() const { return bytes_.size() - pos_; }

 private:
  bool GetLe(uint32_t& v, size_t n) {
    if (left() < n) return false;
    v = 0;
    for (size_t i = n; i-- > 0;) v = v << 8 | bytes_[pos_ + i];
    pos_ += n;
    return true;
  }
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

}  // namespace tarvona::com
