#include "token/token_survey.h"

#include <algorithm>
#include <string_view>

#include "common/result_code.h"
#include "token/cryptoki_call.h"
#include "token/cryptoki_module.h"
#include "token/mechanisms.h"

namespace tarvona {
namespace {

// More than any reader or module has; a module that reports more is
// answered as one whose list fails.
constexpr CK_ULONG kMostEntries = 4096;

// A fixed-width Cryptoki text field without its blank padding.
template <size_t kSize>
std::string Text(const CK_UTF8CHAR (&field)[kSize]) {
  std::string_view text(reinterpret_cast<const char*>(field), kSize);
  const size_t end = text.find_last_not_of(std::string_view(" \0", 2));
  return std::string(end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1));
}

// C_GetSlotList and C_GetMechanismList share their length protocol: a
// null list asks for the count. A list that grows between the two calls
// is asked for again.
template <typename Entry, typename Call>
CK_RV ReadList(Call call, std::vector<Entry>& entries) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    CK_ULONG count = 0;
    if (CK_RV rv = call(nullptr, &count); rv != CKR_OK) return rv;
    if (count > kMostEntries) return CKR_GENERAL_ERROR;
    entries.assign(FromCkLength(count), Entry{});
    if (count == 0) return CKR_OK;
    CK_RV rv = call(entries.data(), &count);
    if (rv == CKR_BUFFER_TOO_SMALL) continue;
    if (rv != CKR_OK) return rv;
    entries.resize(std::min(entries.size(), FromCkLength(count)));
    return CKR_OK;
  }
  return CKR_BUFFER_TOO_SMALL;
}

}  // namespace

int32_t CCryptokiModule::Survey(ModuleSurvey& survey) {
  survey = {};
  if (!IsReady()) {
    if (int32_t rc = Load(file_name_); rc != kOk) return rc;
  }
  CK_FUNCTION_LIST& f = *functions_;
  CK_INFO info{};
  survey.info_rv = f.C_GetInfo != nullptr ? f.C_GetInfo(&info) : CKR_FUNCTION_NOT_SUPPORTED;
  if (survey.info_rv == CKR_OK) {
    survey.library = Text(info.libraryDescription);
    if (std::string maker = Text(info.manufacturerID); !maker.empty()) {
      survey.library += survey.library.empty() ? maker : " (" + maker + ")";
    }
    survey.library_version = info.libraryVersion;
  }
  std::vector<CK_SLOT_ID> ids;
  const auto slot_list = [&](CK_BBOOL present, std::vector<CK_SLOT_ID>& list) {
    return ReadList<CK_SLOT_ID>(
        [&](CK_SLOT_ID_PTR entries, CK_ULONG_PTR count) {
          return f.C_GetSlotList(present, entries, count);
        },
        list);
  };
  if (CK_RV rv = slot_list(CK_FALSE, ids); rv != CKR_OK) return ResultOf(Operation::kSlots, rv);
  if (CK_RV rv = slot_list(CK_TRUE, survey.present); rv != CKR_OK) {
    return ResultOf(Operation::kSlots, rv);
  }
  for (CK_SLOT_ID id : ids) {
    SlotSurvey& slot = survey.slots.emplace_back();
    slot.id = id;
    CK_SLOT_INFO slot_info{};
    if (f.C_GetSlotInfo != nullptr && f.C_GetSlotInfo(id, &slot_info) == CKR_OK) {
      slot.description = Text(slot_info.slotDescription);
    }
    CK_TOKEN_INFO token{};
    slot.token_rv = f.C_GetTokenInfo(id, &token);
    if (slot.token_rv == CKR_OK) {
      slot.token = {Text(token.label), Text(token.manufacturerID), Text(token.model),
                    Text(token.serialNumber), token.flags};
    }
    std::vector<CK_MECHANISM_TYPE> offered;
    slot.mechanisms_rv = f.C_GetMechanismList == nullptr
                             ? CKR_FUNCTION_NOT_SUPPORTED
                             : ReadList<CK_MECHANISM_TYPE>(
                                   [&](CK_MECHANISM_TYPE_PTR entries, CK_ULONG_PTR count) {
                                     return f.C_GetMechanismList(id, entries, count);
                                   },
                                   offered);
    for (const UsedMechanism& used : kUsedMechanisms) {
      MechanismSurvey& mechanism = slot.mechanisms.emplace_back();
      mechanism.offered = std::find(offered.begin(), offered.end(), used.type) != offered.end();
      CK_MECHANISM_INFO details{};
      if (mechanism.offered && f.C_GetMechanismInfo != nullptr &&
          f.C_GetMechanismInfo(id, used.type, &details) == CKR_OK) {
        mechanism.flags = details.flags;
      }
    }
  }
  return kOk;
}

}  // namespace tarvona
