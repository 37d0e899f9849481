#include "capi/certificate_picker.h"

#include <utility>
#include <vector>

namespace tarvona::capi {

std::unique_ptr<Certificate> ListPicker::Choose() { return ChooseFor(Request{}); }

std::unique_ptr<Certificate> ListPicker::ChooseFor(const Request& request) {
  auto store = platform_.OpenPersonalStore();
  if (!store) return nullptr;
  // A certificate without its key could only fail after the user chose it.
  if (request.purpose != Purpose::kUse) {
    std::erase_if(*store, [](const auto& candidate) { return !candidate->HoldsPrivateKey(); });
  }
  std::vector<CertificateSummary> summaries;
  summaries.reserve(store->size());
  for (const auto& candidate : *store) summaries.push_back(candidate->Summary());
  std::optional<size_t> choice = PickFor(request, summaries);
  if (!choice || *choice >= store->size()) return nullptr;
  return std::move((*store)[*choice]);
}

}  // namespace tarvona::capi
