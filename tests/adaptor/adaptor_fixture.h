#pragma once

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <p11-kit/pkcs11.h>
#include <stdlib.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "testing/faults/fault_control.h"
#include "testing/softhsm_tokens.h"

namespace tarvona::testing {

// A Cryptoki module file opened the way the control opens it.
class LoadedModule {
 public:
  explicit LoadedModule(const std::string& path)
      : library_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (library_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    const auto get_list = reinterpret_cast<CK_C_GetFunctionList>(Symbol("C_GetFunctionList"));
    if (get_list == nullptr || get_list(&list_) != CKR_OK || list_ == nullptr) {
      throw std::runtime_error("no function list in " + path);
    }
  }

  void* Symbol(const char* name) const { return dlsym(library_.get(), name); }
  CK_FUNCTION_LIST* operator->() const { return list_; }
  CK_FUNCTION_LIST* list() const { return list_; }

 private:
  struct Closer {
    void operator()(void* handle) const { dlclose(handle); }
  };
  std::unique_ptr<void, Closer> library_;
  CK_FUNCTION_LIST* list_ = nullptr;
};

inline std::string FaultModulePath(int generation) {
  return FaultModulesDir() + "/Tarvonav" + std::to_string(generation) + ".dll";
}

inline std::vector<CK_SLOT_ID> SlotList(CK_FUNCTION_LIST* f) {
  CK_ULONG count = 0;
  EXPECT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
  std::vector<CK_SLOT_ID> slots(count);
  EXPECT_EQ(f->C_GetSlotList(CK_TRUE, slots.data(), &count), CKR_OK);
  slots.resize(count);
  return slots;
}

inline std::string LabelOf(CK_FUNCTION_LIST* f, CK_SLOT_ID slot) {
  CK_TOKEN_INFO info{};
  EXPECT_EQ(f->C_GetTokenInfo(slot, &info), CKR_OK);
  std::string label(reinterpret_cast<const char*>(info.label), sizeof info.label);
  return label.erase(label.find_last_not_of(' ') + 1);
}

inline std::vector<std::string> Labels(CK_FUNCTION_LIST* f) {
  std::vector<std::string> labels;
  for (CK_SLOT_ID slot : SlotList(f)) labels.push_back(LabelOf(f, slot));
  return labels;
}

// Slot of the token labelled `label` as `f` shows it.
inline CK_SLOT_ID SlotOf(CK_FUNCTION_LIST* f, const std::string& label) {
  for (CK_SLOT_ID slot : SlotList(f)) {
    if (LabelOf(f, slot) == label) return slot;
  }
  throw std::runtime_error("no token " + label);
}

inline CK_UTF8CHAR_PTR Utf8(const char* text) {
  return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(text));
}

// SoftHSM tokens plus both fault-build generations, left finalised and with
// no faults by every test, so tests can also share one process.
class AdaptorTest : public ::testing::Test {
 protected:
  void SetUp() override { tarvona_faults_reset(); }
  void TearDown() override {
    tarvona_faults_reset();
    v4->C_Finalize(nullptr);
    v5->C_Finalize(nullptr);
    tarvona_faults_reset();
  }

  SoftHsmTokens tokens;
  LoadedModule v4{FaultModulePath(4)};
  LoadedModule v5{FaultModulePath(5)};
};

}  // namespace tarvona::testing
