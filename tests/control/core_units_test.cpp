// The control's units that need neither a token nor a store: they run in
// the Linux suite and, cross-built, under Windows too.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "control/method_metadata.h"
#include "control/session_handle.h"
#include "token/object_numbers.h"

namespace tarvona {
namespace {

TEST(MethodMetadataTest, FindsEveryMethodByDispidAndByNameInAnyCase) {
  std::set<std::string> names;
  for (const MethodInfo& method : MethodTable()) {
    EXPECT_EQ(FindMethod(method.dispid), &method);
    std::string upper(method.name), lower(method.name);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(FindMethod(upper), &method) << upper;
    EXPECT_EQ(FindMethod(lower), &method) << lower;
    EXPECT_TRUE(names.insert(lower).second) << "two methods named " << method.name;
    EXPECT_TRUE(method.result == ValueType::kI4 || method.result == ValueType::kBstr)
        << method.name;
    for (const ParamInfo& param : method.params) {
      EXPECT_FALSE(param.name.empty()) << method.name;
      EXPECT_TRUE(param.type == ValueType::kI4 || param.type == ValueType::kI2 ||
                  param.type == ValueType::kBstr)
          << method.name << " " << param.name;
    }
  }
  for (int32_t dispid : {0, -1, 27, INT32_MIN, INT32_MAX})
    EXPECT_EQ(FindMethod(dispid), nullptr) << dispid;
  for (const char* name : {"", "Connect", "ConnectTokenX", " ConnectToken"}) {
    EXPECT_EQ(FindMethod(std::string_view(name)), nullptr) << name;
  }
}

TEST(SessionHandleTest, LiveHandlesAreDistinctAndAboveEveryResultCode) {
  std::vector<std::unique_ptr<SessionHandle>> handles;
  std::set<int32_t> values;
  for (int i = 0; i < 100; ++i) {
    handles.push_back(std::make_unique<SessionHandle>());
    const int32_t value = handles.back()->value();
    EXPECT_GE(value, 0x10000);
    EXPECT_TRUE(values.insert(value).second) << value;
  }
  // Once one in the middle is freed, a new object still takes no value
  // another live object holds.
  handles.erase(handles.begin() + 50);
  SessionHandle next;
  for (const auto& handle : handles) EXPECT_NE(next.value(), handle->value());
}

TEST(ObjectNumbersTest, HandlesThatFitPassThroughOthersGetStableStandIns) {
  ObjectNumbers numbers;
  struct Case {
    CK_OBJECT_HANDLE handle;
    bool stand_in;
  };
  const Case cases[] = {
      {1, false},
      {0x7FFFEFFF, false},
      {0x80000000, false},  // comes out negative and goes back unchanged
      {0xFFFFFFFF, false},
      {ObjectNumbers::kFirstStandIn, true},  // a handle inside the stand-in range
      {static_cast<CK_OBJECT_HANDLE>(ObjectNumbers::kFirstStandIn + ObjectNumbers::kLimit - 1),
       true},
  };
  std::set<int32_t> seen;
  for (const Case& c : cases) {
    const auto number = numbers.ToScript(c.handle);
    ASSERT_TRUE(number.has_value()) << c.handle;
    EXPECT_TRUE(seen.insert(*number).second) << c.handle;
    EXPECT_EQ(numbers.ToScript(c.handle), number) << c.handle;
    EXPECT_EQ(numbers.FromScript(*number), c.handle) << c.handle;
    const auto pattern = static_cast<uint32_t>(*number);
    if (c.stand_in) {
      EXPECT_LT(pattern - ObjectNumbers::kFirstStandIn, ObjectNumbers::kLimit) << c.handle;
    } else {
      EXPECT_EQ(pattern, c.handle);
    }
  }
  // A stand-in never handed out names no object.
  EXPECT_EQ(numbers.FromScript(static_cast<int32_t>(ObjectNumbers::kFirstStandIn + 2)),
            CK_INVALID_HANDLE);
  numbers.Forget();
  EXPECT_EQ(numbers.size(), 0u);
  EXPECT_EQ(numbers.FromScript(static_cast<int32_t>(ObjectNumbers::kFirstStandIn)),
            CK_INVALID_HANDLE);
}

TEST(ObjectNumbersTest, RefusesStandInsPastTheLimitButPassesHandlesThatFit) {
  ObjectNumbers numbers;
  const CK_OBJECT_HANDLE first = ObjectNumbers::kFirstStandIn;
  for (CK_OBJECT_HANDLE i = 0; i < ObjectNumbers::kLimit; ++i) {
    ASSERT_TRUE(numbers.ToScript(first + i).has_value()) << i;
  }
  EXPECT_EQ(numbers.size(), ObjectNumbers::kLimit);
  EXPECT_EQ(numbers.ToScript(5), std::optional<int32_t>(5));
  if constexpr (sizeof(CK_OBJECT_HANDLE) > sizeof(uint32_t)) {
    // Only where a module's handles can be wider than script's long.
    const auto wide = static_cast<CK_OBJECT_HANDLE>(UINT32_MAX) + 1;
    EXPECT_EQ(numbers.ToScript(wide), std::nullopt);
  }
}

}  // namespace
}  // namespace tarvona
