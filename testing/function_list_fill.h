// Fills every entry of a Cryptoki function list with one function, so a
// bridge sets only the entries it forwards and the rest answer what that
// one function answers.
#pragma once

#include <cstddef>
#include <cstring>

namespace tarvona::testing {

// Entry is a pointer to a function taking nothing: the caller clears the
// stack in both cdecl and the Microsoft convention, so it stands in for
// any entry of the list.
template <typename List, typename Entry>
void FillFunctionList(List& list, Entry entry) {
  constexpr size_t kEntries = (sizeof list - sizeof list.version) / sizeof(Entry);
  static_assert(sizeof list == sizeof list.version + kEntries * sizeof(Entry));
  for (size_t i = 0; i < kEntries; ++i) {
    std::memcpy(reinterpret_cast<unsigned char*>(&list) + sizeof list.version + i * sizeof(Entry),
                &entry, sizeof entry);
  }
}

}  // namespace tarvona::testing
