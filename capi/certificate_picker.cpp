#include "capi/certificate_picker.h"

#include <utility>
#include <vector>

namespace tarvona::capi {

std::unique_ptr<Certificate> ListPicker::Choose() {
  auto store = platform_.OpenPersonalStore();
  if (!store) return nullptr;
  std::vector<CertificateSummary> summaries;
  summaries.reserve(store->size());
  for (const auto& candidate : *store) summaries.push_back(candidate->Summary());
  std::optional<size_t> choice = Pick(summaries);
  if (!choice || *choice >= store->size()) return nullptr;
  return std::move((*store)[*choice]);
}

}  // namespace tarvona::capi
