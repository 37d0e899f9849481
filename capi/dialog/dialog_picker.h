#pragma once

#include "capi/certificate_picker.h"

namespace tarvona::capi {

// The selection dialog and the store's password prompt on Linux. Both are
// tarvona-certpicker, a GTK program installed next to the binary that holds
// this code, so that no toolkit is loaded into the host's process. They say
// who asks and what for, and close when the request's hang-up descriptor
// hangs up. Without a display (neither DISPLAY nor WAYLAND_DISPLAY set)
// they answer none at once instead of waiting; so they do for an empty
// store, a missing program, or a dialog that cannot open.
class DialogPicker final : public ListPicker {
 public:
  static constexpr char kProgramName[] = "tarvona-certpicker";

  explicit DialogPicker(CryptoPlatform& platform) : ListPicker(platform) {}

  std::optional<size_t> Pick(std::span<const CertificateSummary> certificates) override;
  std::optional<size_t> PickFor(const Request& request,
                                std::span<const CertificateSummary> certificates) override;
  std::optional<std::string> AskPassword(const Request& request, std::string_view store,
                                         int attempt) override;
};

}  // namespace tarvona::capi
