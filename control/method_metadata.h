#pragma once

// The control's dispatch interface as plain data: DISPIDs, method names,
// parameter names and types. Header-only and free of any platform, so build
// tools describe the interface (type library, IDL) from it without linking
// the control; the control's member bindings are checked against it when
// they are compiled.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/ascii.h"
#include "common/automation.h"

namespace tarvona {

struct ParamInfo {
  std::string_view name;
  ValueType type;  // kI4 (long), kI2 (short) or kBstr (string)
};

// One method of the dispatch interface.
struct MethodInfo {
  int32_t dispid;
  std::string_view name;
  ValueType result;  // kI4 or kBstr
  std::span<const ParamInfo> params;
};

namespace method_metadata {

inline constexpr ValueType kLong = ValueType::kI4;
inline constexpr ValueType kShort = ValueType::kI2;
inline constexpr ValueType kString = ValueType::kBstr;

// Parameter names are the type library's.
inline constexpr ParamInfo kDisconnectToken[] = {{"SessionID", kLong}};
inline constexpr ParamInfo kLogin[] = {{"SessionID", kLong}, {"strUserPin", kString}};
inline constexpr ParamInfo kLogout[] = {{"SessionID", kLong}};
inline constexpr ParamInfo kRetrieveSerial[] = {{"SessionID", kLong}};
inline constexpr ParamInfo kChangeSOPin[] = {
    {"SessionID", kLong}, {"strCurrSOPin", kString}, {"strNewSOPin", kString}};
inline constexpr ParamInfo kChangeUserPin[] = {
    {"SessionID", kLong}, {"strCurrUserPin", kString}, {"strNewUserPin", kString}};
inline constexpr ParamInfo kUnblockUserPin[] = {
    {"SessionID", kLong}, {"strSOPin", kString}, {"strUserPin", kString}};
inline constexpr ParamInfo kEnumCertificate[] = {{"SessionID", kLong}, {"lngCert", kLong}};
inline constexpr ParamInfo kEnumPublicKey[] = {{"SessionID", kLong}, {"lngPublic", kLong}};
inline constexpr ParamInfo kEnumPrivateKey[] = {{"SessionID", kLong}, {"lngPrivate", kLong}};
inline constexpr ParamInfo kGetAttribute[] = {
    {"SessionID", kLong}, {"lngObject", kLong}, {"lngAttribute", kLong}};
inline constexpr ParamInfo kEncrypt[] = {
    {"SessionID", kLong}, {"lngKey", kLong}, {"reserved", kLong}, {"strPlainText", kString}};
inline constexpr ParamInfo kDecrypt[] = {
    {"SessionID", kLong}, {"lngKey", kLong}, {"reserved", kLong}, {"lngCipherText", kString}};
inline constexpr ParamInfo kHash[] = {
    {"SessionID", kLong}, {"lngHashType", kLong}, {"strPlainText", kString}};
inline constexpr ParamInfo kSign[] = {
    {"SessionID", kLong}, {"lngKey", kLong}, {"lngHashType", kLong}, {"strPlainText", kString}};
inline constexpr ParamInfo kSignByCertSerial[] = {
    {"SessionID", kLong}, {"certserial", kString}, {"HashType", kLong}, {"plaintext", kString}};
inline constexpr ParamInfo kVerify[] = {{"SessionID", kLong},
                                        {"lngKey", kLong},
                                        {"lngHashType", kShort},
                                        {"strPlainText", kString},
                                        {"strSignText", kString}};
inline constexpr ParamInfo kVerifyByCertSerial[] = {{"SessionID", kLong},
                                                    {"certserial", kString},
                                                    {"HashType", kLong},
                                                    {"plaintext", kString},
                                                    {"signature", kString}};
inline constexpr ParamInfo kSignByCSP[] = {{"SessionID", kLong},
                                           {"certType", kLong},
                                           {"certData", kString},
                                           {"HashType", kLong},
                                           {"plaintext", kString}};
inline constexpr ParamInfo kVerifyByCSP[] = {{"SessionID", kLong},   {"CertDataType", kLong},
                                             {"certData", kString},  {"HashType", kLong},
                                             {"plaintext", kString}, {"signature", kString}};
inline constexpr ParamInfo kEncryptByCSP[] = {{"SessionID", kLong},
                                              {"CertDataType", kLong},
                                              {"certData", kString},
                                              {"reserved", kLong},
                                              {"plaintext", kString}};
inline constexpr ParamInfo kDecryptByCSP[] = {{"SessionID", kLong},
                                              {"CertDataType", kLong},
                                              {"certData", kString},
                                              {"reserved", kLong},
                                              {"ciphertext", kString}};
inline constexpr ParamInfo kVerifyCertCRL[] = {
    {"SessionID", kLong}, {"CertDataType", kLong}, {"certData", kString}};
inline constexpr ParamInfo kTokenInitialize[] = {{"SessionID", kLong},
                                                 {"strSOPin", kString},
                                                 {"strNewUserPin", kString},
                                                 {"strNewTokenName", kString}};
inline constexpr ParamInfo kRetrieveAllTokenSerial[] = {{"SessionID", kLong}};

// All 26 methods, in DISPID order (1 to 26).
inline constexpr std::array<MethodInfo, 26> kMethods = {{
    {1, "ConnectToken", kLong, {}},
    {2, "DisconnectToken", kLong, kDisconnectToken},
    {3, "Login", kLong, kLogin},
    {4, "Logout", kLong, kLogout},
    {5, "RetrieveSerial", kString, kRetrieveSerial},
    {6, "ChangeSOPin", kLong, kChangeSOPin},
    {7, "ChangeUserPin", kLong, kChangeUserPin},
    {8, "UnblockUserPin", kLong, kUnblockUserPin},
    {9, "EnumCertificate", kLong, kEnumCertificate},
    {10, "EnumPublicKey", kLong, kEnumPublicKey},
    {11, "EnumPrivateKey", kLong, kEnumPrivateKey},
    {12, "GetAttribute", kString, kGetAttribute},
    {13, "Encrypt", kString, kEncrypt},
    {14, "Decrypt", kString, kDecrypt},
    {15, "Hash", kString, kHash},
    {16, "Sign", kString, kSign},
    {17, "SignByCertSerial", kString, kSignByCertSerial},
    {18, "Verify", kLong, kVerify},
    {19, "VerifyByCertSerial", kLong, kVerifyByCertSerial},
    {20, "SignByCSP", kString, kSignByCSP},
    {21, "VerifyByCSP", kLong, kVerifyByCSP},
    {22, "EncryptByCSP", kString, kEncryptByCSP},
    {23, "DecryptByCSP", kString, kDecryptByCSP},
    {24, "VerifyCertCRL", kLong, kVerifyCertCRL},
    {25, "TokenInitialize", kLong, kTokenInitialize},
    {26, "RetrieveAllTokenSerial", kString, kRetrieveAllTokenSerial},
}};

}  // namespace method_metadata

constexpr std::span<const MethodInfo> MethodTable() { return method_metadata::kMethods; }

// Lookup by name, case-insensitively as script engines match names, and by
// DISPID. Null when there is no such method.
constexpr const MethodInfo* FindMethod(std::string_view name) {
  for (const MethodInfo& method : method_metadata::kMethods) {
    if (EqualsIgnoringAsciiCase(method.name, name)) return &method;
  }
  return nullptr;
}

constexpr const MethodInfo* FindMethod(int32_t dispid) {
  if (dispid < 1 || dispid > static_cast<int32_t>(method_metadata::kMethods.size())) return nullptr;
  return &method_metadata::kMethods[static_cast<size_t>(dispid - 1)];
}

// A parameter's position (its DISPID in GetIDsOfNames), matched as method
// names are; -1 when the method has no such parameter.
constexpr int32_t FindParam(const MethodInfo& method, std::string_view name) {
  for (size_t p = 0; p < method.params.size(); ++p) {
    if (EqualsIgnoringAsciiCase(method.params[p].name, name)) return static_cast<int32_t>(p);
  }
  return -1;
}

}  // namespace tarvona
