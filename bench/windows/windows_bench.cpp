// The Windows road measured, each subject in alternation with its limit
// (bench/pairs.h), in a Wine prefix that bench/windows.sh prepares (the
// control registered, the MY store filled, the test bridge as the token
// modules, the fixture's SoftHSM2 token behind it):
//   Sign through IDispatch::Invoke   against C_SignInit + C_Sign on the same
//                                    bridge module, in this process
//   Sign through tarvona-host.exe    against the same Invoke in-process, in
//                                    lines and in native-messaging frames
//   SignByCSP through Invoke         against CryptSignHash with the same key
//   a line through an echoing child   Wine's pipes alone, for comparison
// Prints one Markdown table row per measurement.
//   windows_bench.exe HOST.exe [PAIRS]
#include <fcntl.h>
#include <io.h>
#include <oleauto.h>
#include <wincrypt.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "bench/pairs.h"
#include "common/control_identity.h"
#include "encoding/hex.h"
#include "host/line_reader.h"
#include "host/native_messaging.h"
#include "platform/com_ptr.h"
#include <p11-kit/pkcs11.h>

namespace {

using nlohmann::json;
using tarvona::bench::PairSeries;
using tarvona::bench::PairSummary;
using tarvona::platform::Held;

constexpr char kPin[] = "1234";                          // the fixture's user PIN
constexpr char kData[] = "5061792031303020455552";      // "Pay 100 EUR"
constexpr wchar_t kStoreSerial[] = L"02048B";            // rsa2048b in the MY store
constexpr BYTE kStoreSerialBytes[] = {0x8B, 0x04, 0x02};  // as CryptoAPI keeps it
constexpr char kOrigin[] = "http://localhost:8000";

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The control as script drives it: names to DISPIDs once, then Invoke with
// the arguments last first.
class Control {
 public:
  using Argument = std::variant<int32_t, std::wstring>;

  Control() {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(Wide(tarvona::identity::kControlProgId).c_str(), &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                dispatch_.PutVoid()))) {
      Fail("the control is not registered");
    }
  }

  DISPID Id(const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (FAILED(dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
      Fail("no method " + std::string(name, name + wcslen(name)));
    }
    return id;
  }

  // The result as a number, or as text (held in `text`).
  int32_t Call(DISPID id, const std::vector<Argument>& arguments, std::wstring* text = nullptr) {
    std::vector<VARIANT> given(arguments.size());
    for (size_t i = 0; i < arguments.size(); ++i) {
      VARIANT& v = given[arguments.size() - 1 - i];
      VariantInit(&v);
      if (const auto* number = std::get_if<int32_t>(&arguments[i])) {
        V_VT(&v) = VT_I4;
        V_I4(&v) = *number;
      } else {
        const std::wstring& s = std::get<std::wstring>(arguments[i]);
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
      }
    }
    DISPPARAMS params = {given.data(), nullptr, static_cast<UINT>(given.size()), 0};
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr =
        dispatch_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    for (VARIANT& v : given) VariantClear(&v);
    if (FAILED(hr)) Fail("Invoke failed");
    int32_t number = 0;
    if (V_VT(&result) == VT_I4) number = V_I4(&result);
    if (V_VT(&result) == VT_BSTR && text != nullptr) {
      text->assign(V_BSTR(&result), SysStringLen(V_BSTR(&result)));
    }
    VariantClear(&result);
    return number;
  }

 private:
  Held<IDispatch> dispatch_;
};

// The control connected to the fixture's token, logged in, its key found.
struct SigningControl {
  Control control;
  DISPID sign = control.Id(L"Sign");
  int32_t handle = control.Call(control.Id(L"ConnectToken"), {});
  int32_t key = 0;

  SigningControl() {
    if (control.Call(control.Id(L"Login"), {handle, Wide(kPin)}) != 0) Fail("Login");
    key = control.Call(control.Id(L"EnumPrivateKey"), {handle, 0});
  }
  void Sign() {
    std::wstring signature;
    control.Call(sign, {handle, key, 0, Wide(kData)}, &signature);
    if (signature.empty()) Fail("Sign gave no signature");
  }
};

// The token module called directly, beside the control, on the module
// instance the control uses: the limit for any road to the token.
class RawSigner {
 public:
  RawSigner() : library_(LoadLibraryW(L"Tarvonav5.dll")) {
    auto get_list = library_ == nullptr ? nullptr
                                        : reinterpret_cast<CK_C_GetFunctionList>(reinterpret_cast<void*>(
                                              GetProcAddress(library_, "C_GetFunctionList")));
    if (get_list == nullptr || get_list(&f_) != CKR_OK) Fail("no Tarvonav5.dll");
    f_->C_Initialize(nullptr);  // the control may have done so already
    CK_SLOT_ID slots[8];
    CK_ULONG count = 8;
    if (f_->C_GetSlotList(CK_TRUE, slots, &count) != CKR_OK || count == 0 ||
        f_->C_OpenSession(slots[0], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                          &session_) != CKR_OK) {
      Fail("no session on the token");
    }
    CK_UTF8CHAR pin[] = {'1', '2', '3', '4'};
    f_->C_Login(session_, CKU_USER, pin, sizeof pin);  // already in, perhaps
    CK_OBJECT_CLASS key_class = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE search[] = {{CKA_CLASS, &key_class, sizeof key_class}};
    f_->C_FindObjectsInit(session_, search, 1);
    f_->C_FindObjects(session_, &key_, 1, &count);
    f_->C_FindObjectsFinal(session_);
    if (count != 1) Fail("no private key on the token");
  }
  ~RawSigner() {
    f_->C_CloseSession(session_);
    FreeLibrary(library_);
  }
  RawSigner(const RawSigner&) = delete;
  RawSigner& operator=(const RawSigner&) = delete;

  void Sign() {
    CK_MECHANISM mechanism = {CKM_SHA1_RSA_PKCS, nullptr, 0};
    CK_BYTE signature[512];
    CK_ULONG length = sizeof signature;
    if (f_->C_SignInit(session_, &mechanism, key_) != CKR_OK ||
        f_->C_Sign(session_, data_.data(), static_cast<CK_ULONG>(data_.size()), signature,
                   &length) != CKR_OK) {
      Fail("C_Sign");
    }
  }

 private:
  HMODULE library_;
  CK_FUNCTION_LIST_PTR f_ = nullptr;
  CK_SESSION_HANDLE session_ = 0;
  CK_OBJECT_HANDLE key_ = 0;
  std::vector<BYTE> data_ = tarvona::HexDecode(kData);
};

// CryptoAPI called directly with the store key SignByCSP uses.
class RawCspSigner {
 public:
  RawCspSigner() {
    store_ = CertOpenSystemStoreW(0, L"MY");
    for (PCCERT_CONTEXT c = nullptr; store_ != nullptr &&
                                     (c = CertEnumCertificatesInStore(store_, c)) != nullptr;) {
      const CRYPT_INTEGER_BLOB& serial = c->pCertInfo->SerialNumber;
      if (serial.cbData == sizeof kStoreSerialBytes &&
          memcmp(serial.pbData, kStoreSerialBytes, serial.cbData) == 0) {
        certificate_ = CertDuplicateCertificateContext(c);
      }
    }
    BOOL free_key = FALSE;
    if (certificate_ == nullptr ||
        !CryptAcquireCertificatePrivateKey(certificate_, 0, nullptr, &provider_, &spec_,
                                           &free_key)) {
      Fail("no store key for serial 02048B");
    }
    free_provider_ = free_key != FALSE;
  }
  ~RawCspSigner() {
    if (free_provider_) CryptReleaseContext(provider_, 0);
    if (certificate_ != nullptr) CertFreeCertificateContext(certificate_);
    if (store_ != nullptr) CertCloseStore(store_, 0);
  }
  RawCspSigner(const RawCspSigner&) = delete;
  RawCspSigner& operator=(const RawCspSigner&) = delete;

  void Sign() {
    HCRYPTHASH hash = 0;
    BYTE signature[512];
    DWORD length = sizeof signature;
    const bool signed_ =
        CryptCreateHash(provider_, CALG_SHA1, 0, 0, &hash) &&
        CryptHashData(hash, data_.data(), static_cast<DWORD>(data_.size()), 0) &&
        CryptSignHashW(hash, spec_, nullptr, 0, signature, &length);
    if (hash != 0) CryptDestroyHash(hash);
    if (!signed_) Fail("CryptSignHash");
  }

 private:
  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT certificate_ = nullptr;
  HCRYPTPROV provider_ = 0;
  DWORD spec_ = 0;
  bool free_provider_ = false;
  std::vector<BYTE> data_ = tarvona::HexDecode(kData);
};

// tarvona-host.exe on pipes of ours, spoken to as a browser (frames) or a
// program (--lines) does.
class HostChild {
 public:
  // `arguments` after the program's name; none: the host's own for the framing.
  HostChild(const std::wstring& host, bool framed, const std::wstring& arguments = L"")
      : framed_(framed) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE child_in = nullptr, child_out = nullptr;
    if (!CreatePipe(&child_in, &to_child_, &inherit, 0) ||
        !CreatePipe(&from_child_, &child_out, &inherit, 0)) {
      Fail("CreatePipe");
    }
    SetHandleInformation(to_child_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(from_child_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = child_in;
    startup.hStdOutput = child_out;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring command =
        L"\"" + host + L"\" " +
        (!arguments.empty() ? arguments : framed ? L"chrome-extension://x/" : L"--lines");
    PROCESS_INFORMATION started = {};
    const BOOL ok = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   nullptr, &startup, &started);
    CloseHandle(child_in);
    CloseHandle(child_out);
    if (!ok) Fail("cannot start the host");
    CloseHandle(started.hThread);
    process_ = started.hProcess;
    to_ = Stream(to_child_, _O_WRONLY, "wb");
    from_ = Stream(from_child_, _O_RDONLY, "rb");
    replies_ = tarvona::host::LineReader(from_, tarvona::host::kMaxResponseFrame);
    if (!arguments.empty()) return;

    json create = {{"id", 0}, {"create", tarvona::identity::kControlProgId}};
    if (framed) create["origin"] = kOrigin;
    Send(create);
    handle_ = Call("ConnectToken", json::array()).get<int32_t>();
    Call("Login", {handle_, kPin});
    key_ = Call("EnumPrivateKey", {handle_, 0}).get<int32_t>();
  }
  ~HostChild() {
    std::fclose(to_);  // the host ends at the end of its input
    WaitForSingleObject(process_, 60000);
    std::fclose(from_);
    CloseHandle(process_);
  }
  HostChild(const HostChild&) = delete;
  HostChild& operator=(const HostChild&) = delete;

  json Call(const std::string& method, json params) {
    return Send(
        {{"id", 1}, {"object", 1}, {"method", method}, {"params", std::move(params)}})["result"];
  }
  json Echo(const json& request) { return Send(request); }
  void Sign() {
    if (Call("Sign", {handle_, key_, 0, kData}).get<std::string>().empty()) {
      Fail("Sign through the host gave no signature");
    }
  }

 private:
  // In the host's own framings (host/native_messaging.h, host/line_reader.h),
  // over buffered streams: a read costs a round trip through Wine's server,
  // so replies are not read byte by byte.
  json Send(const json& request) {
    const std::string text = request.dump();
    std::string reply;
    const bool exchanged =
        framed_ ? tarvona::host::WriteFrame(to_, text) &&
                      tarvona::host::ReadFrame(from_, reply) == tarvona::host::FrameStatus::kFrame
                : std::fprintf(to_, "%s\n", text.c_str()) > 0 && std::fflush(to_) == 0 &&
                      replies_.Next(reply) == tarvona::host::LineReader::Status::kLine;
    if (!exchanged) Fail("the host ended");
    json response = json::parse(reply);
    if (response.contains("error")) Fail(response.dump());
    return response;
  }

  // A pipe's end as a binary stream of its own; the stream owns the handle.
  static std::FILE* Stream(HANDLE pipe, int flags, const char* mode) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(pipe), flags | _O_BINARY);
    std::FILE* stream = fd < 0 ? nullptr : _fdopen(fd, mode);
    if (stream == nullptr) Fail("no stream on the host's pipe");
    return stream;
  }

  bool framed_;
  HANDLE to_child_ = nullptr, from_child_ = nullptr, process_ = nullptr;
  std::FILE* to_ = nullptr;
  std::FILE* from_ = nullptr;
  tarvona::host::LineReader replies_{nullptr, tarvona::host::kMaxResponseFrame};
  int32_t handle_ = 0, key_ = 0;
};

template <typename Subject, typename Reference>
PairSummary Pairs(int pairs, Subject subject, Reference reference) {
  auto no_cpu = [] { return 0.0; };
  for (int warm = 0; warm < 20; ++warm) {
    subject();
    reference();
  }
  PairSeries series;
  for (int i = 0; i < pairs; ++i) series.Add(subject, reference, no_cpu);
  return series.Summary();
}

// Wall time only: Wine counts a thread's CPU time in scheduler ticks (10 ms
// and more), far coarser than one call.
void Row(const char* road, const char* reference, const PairSummary& s) {
  std::printf("| %s | %s | %.0f | %.0f | %.3f [%.3f–%.3f] | %.1f [%.1f–%.1f] | %zu |\n", road,
              reference, s.subject_us, s.reference_us, s.rate.median, s.rate.q1, s.rate.q3,
              s.added_us.median, s.added_us.q1, s.added_us.q3, s.pairs);
  std::fflush(stdout);
}

int Run(const std::wstring& self, const std::wstring& host, int pairs) {
  SigningControl in_process;
  {
    RawSigner raw;
    Row("Sign, IDispatch::Invoke", "C_SignInit + C_Sign, same bridge",
        Pairs(pairs, [&] { in_process.Sign(); }, [&] { raw.Sign(); }));
  }
  // What Wine's pipes cost alone: the same request and reply through a
  // child that only echoes each line.
  {
    HostChild echo(self, false, L"--echo");
    const json request = {{"id", 1}, {"object", 1}, {"method", "VerifyCertCRL"},
                          {"params", {0, 0, ""}}};
    Control plain;
    const DISPID verify_crl = plain.Id(L"VerifyCertCRL");
    Row("a line through a child that echoes it (Wine's pipes alone)",
        "VerifyCertCRL, IDispatch::Invoke in-process",
        Pairs(pairs, [&] { echo.Echo(request); },
              [&] { plain.Call(verify_crl, {0, 0, std::wstring()}); }));
  }
  // What the host adds: a call with no token work, and Sign.
  Control plain;
  const DISPID verify_crl = plain.Id(L"VerifyCertCRL");
  for (bool framed : {false, true}) {
    HostChild hosted(host, framed);
    const char* framing = framed ? "frames" : "lines";
    Row((std::string("VerifyCertCRL (no token work), tarvona-host.exe, ") + framing).c_str(),
        "the same, IDispatch::Invoke in-process",
        Pairs(pairs, [&] { hosted.Call("VerifyCertCRL", {0, 0, ""}); },
              [&] { plain.Call(verify_crl, {0, 0, std::wstring()}); }));
    Row((std::string("Sign, tarvona-host.exe, ") + framing).c_str(),
        "Sign, IDispatch::Invoke in-process",
        Pairs(pairs, [&] { hosted.Sign(); }, [&] { in_process.Sign(); }));
  }
  Control store_control;
  const DISPID sign_by_csp = store_control.Id(L"SignByCSP");
  RawCspSigner raw_csp;
  Row("SignByCSP, IDispatch::Invoke", "CryptSignHash, same key",
      Pairs(
          pairs,
          [&] {
            std::wstring signature;
            store_control.Call(sign_by_csp, {0, 1, kStoreSerial, 0, Wide(kData)}, &signature);
            if (signature.empty()) Fail("SignByCSP gave no signature");
          },
          [&] { raw_csp.Sign(); }));
  return 0;
}

}  // namespace

// Reads lines and writes each back, until the input ends.
int Echo() {
  char line[1 << 16];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    std::fputs(line, stdout);
    std::fflush(stdout);
  }
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && wcscmp(argv[1], L"--echo") == 0) return Echo();
  if (argc < 2) {
    std::fprintf(stderr, "usage: windows_bench.exe HOST.exe [PAIRS]\n");
    return 2;
  }
  const int pairs = argc > 2 ? _wtoi(argv[2]) : 1000;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int status = 1;
  try {
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length == MAX_PATH) Fail("no own path");
    status = Run(self, argv[1], pairs);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "windows_bench: %s\n", e.what());
  }
  CoUninitialize();
  return status;
}
