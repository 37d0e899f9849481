#pragma once

#include "capi/certificate_picker.h"

namespace tarvona::capi {

// The selection dialog on Linux. It runs tarvona-certpicker, a GTK program
// installed next to the binary that holds this code, so that no toolkit is
// loaded into the host's process. Without a display (neither DISPLAY nor
// WAYLAND_DISPLAY set) it chooses none at once instead of waiting; so it
// does for an empty store, a missing program, or a dialog that cannot open.
class DialogPicker final : public ListPicker {
 public:
  static constexpr char kProgramName[] = "tarvona-certpicker";

  explicit DialogPicker(CryptoPlatform& platform) : ListPicker(platform) {}

  std::optional<size_t> Pick(std::span<const CertificateSummary> certificates) override;
};

}  // namespace tarvona::capi
