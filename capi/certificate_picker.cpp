#include "capi/certificate_picker.h"

#include <algorithm>
#include <numeric>
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
  // A certificate out of its validity is seldom the one meant: it goes
  // after the others, each group in the store's order.
  std::vector<size_t> order(store->size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_partition(order.begin(), order.end(),
                        [&](size_t i) { return summaries[i].validity == Validity::kValid; });
  std::vector<CertificateSummary> shown;
  shown.reserve(order.size());
  for (size_t i : order) shown.push_back(std::move(summaries[i]));
  std::optional<size_t> choice = PickFor(request, shown);
  if (!choice || *choice >= store->size()) return nullptr;
  return std::move((*store)[order[*choice]]);
}

}  // namespace tarvona::capi
