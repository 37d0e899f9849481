#include "control/method_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "testing/automation_arguments.h"
#include "control/tarvona_control.h"
#include "testing/no_store.h"
#include "testing/softhsm_tokens.h"
#include "testing/test_library_loader.h"

namespace tarvona {
namespace {

using Variant = Value;
using VarType = ValueType;

TEST(MethodTableTest, HasTheTwentySixMethodsInDispidOrder) {
  auto table = MethodTable();
  ASSERT_EQ(table.size(), 26u);
  std::set<std::string_view> names;
  for (size_t i = 0; i < table.size(); ++i) {
    EXPECT_EQ(table[i].dispid, static_cast<int32_t>(i + 1));
    names.insert(table[i].name);
  }
  EXPECT_EQ(names.size(), 26u);
  EXPECT_EQ(table[0].name, "ConnectToken");
  EXPECT_EQ(table[16].name, "SignByCertSerial");
  EXPECT_EQ(table[25].name, "RetrieveAllTokenSerial");

  // The two irregular signatures of the type library.
  const MethodInfo* verify = FindMethod("Verify");
  ASSERT_NE(verify, nullptr);
  EXPECT_EQ(verify->params[2].name, "lngHashType");
  EXPECT_EQ(verify->params[2].type, VarType::kI2);
  const MethodInfo* decrypt = FindMethod("Decrypt");
  EXPECT_EQ(decrypt->params[3].name, "lngCipherText");
  EXPECT_EQ(decrypt->params[3].type, VarType::kBstr);
  EXPECT_EQ(decrypt->result, VarType::kBstr);
  EXPECT_EQ(FindMethod("VerifyByCSP")->params.size(), 6u);
  EXPECT_EQ(FindMethod("ConnectToken")->params.size(), 0u);
}

TEST(MethodTableTest, FindsNamesIgnoringCaseAndRefusesUnknownOnes) {
  EXPECT_EQ(FindMethod("connecttoken"), FindMethod(1));
  EXPECT_EQ(FindMethod("SIGNBYCSP"), FindMethod(20));
  EXPECT_EQ(FindMethod("ConnectTokenX"), nullptr);
  EXPECT_EQ(FindMethod(""), nullptr);
  EXPECT_EQ(FindMethod(0), nullptr);
  EXPECT_EQ(FindMethod(27), nullptr);
}

class InvokeTest : public ::testing::Test {
 protected:
  static testing::DirectoryLoader NoModules() {
    testing::DirectoryLoader loader(testing::FaultModulesDir());
    loader.Without("Tarvonav4.dll").Without("Tarvonav5.dll");
    return loader;
  }

  CallStatus Call(int32_t dispid, std::vector<Variant> args, uint32_t* arg_error = nullptr) {
    return Invoke(control_, dispid, args, result_, testing::ConvertArgument, arg_error);
  }

  testing::DirectoryLoader loader_ = NoModules();
  CTarvonaActiveXCtrl control_{loader_, testing::NoStore(), testing::NoStore()};
  Variant result_;
};

TEST_F(InvokeTest, ReturnsResultsOfTheMethodsType) {
  EXPECT_EQ(Call(1, {}), CallStatus::kOk);
  EXPECT_EQ(result_, Variant(int32_t{1001}));
  EXPECT_EQ(Call(5, {int32_t{7}}), CallStatus::kOk);
  EXPECT_EQ(result_, Variant(std::string("1002")));
}

TEST_F(InvokeTest, RefusesWrongCountsAndUnconvertibleArguments) {
  uint32_t arg_error = 99;
  EXPECT_EQ(Call(3, {int32_t{1}}), CallStatus::kBadParamCount);
  EXPECT_EQ(Call(3, {int32_t{1}, std::string("1"), std::string("x")}), CallStatus::kBadParamCount);
  EXPECT_EQ(Call(99, {}), CallStatus::kMemberNotFound);

  EXPECT_EQ(Call(3, {std::string("abc"), std::string("1234")}, &arg_error),
            CallStatus::kTypeMismatch);
  EXPECT_EQ(arg_error, 0u);
  EXPECT_EQ(Call(3, {int32_t{1}, std::monostate{}}, &arg_error), CallStatus::kTypeMismatch);
  EXPECT_EQ(arg_error, 1u);
  EXPECT_EQ(Call(2, {int64_t{1} << 31}, &arg_error), CallStatus::kOverflow);
  EXPECT_EQ(Call(2, {std::string("99999999999")}), CallStatus::kOverflow);
  EXPECT_EQ(
      Call(18, {int32_t{1}, int32_t{2}, int32_t{32768}, std::string(), std::string()}, &arg_error),
      CallStatus::kOverflow);
  EXPECT_EQ(arg_error, 2u);
}

TEST_F(InvokeTest, ConvertsBetweenNumbersAndDecimalTextLikeScriptHosts) {
  EXPECT_EQ(Call(2, {std::string("-5")}), CallStatus::kOk);
  EXPECT_EQ(result_, Variant(int32_t{1002}));
  EXPECT_EQ(Call(18, {int32_t{1}, int32_t{2}, int32_t{-1}, std::string(), std::string()}),
            CallStatus::kOk);
  EXPECT_EQ(Call(3, {int16_t{1}, int32_t{1234}}), CallStatus::kOk);  // a PIN given as a number
  EXPECT_EQ(Call(24, {int64_t{0}, int32_t{0}, std::string("a\0b", 3)}), CallStatus::kOk);
  EXPECT_EQ(result_, Variant(int32_t{1}));
}

}  // namespace
}  // namespace tarvona
