// Runs on the build machine during the Windows build: writes the module's
// interface description (IDL, for widl), its picture (bitmap 202) and its
// resource script (for windres) from the method table and the module's
// identity, so the type library and the resources cannot drift from them.
//   resource_gen OUTPUT_FOLDER
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>

#include "common/control_identity.h"
#include "control/method_metadata.h"

namespace {

using namespace tarvona;

std::string GuidText(const identity::Guid& g) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

// A quoted string for IDL ("\"" escapes) or a resource script ("" escapes).
std::string Quoted(std::string_view text, bool resource_script) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"')
      quoted += resource_script ? "\"\"" : "\\\"";
    else if (c == '\\')
      quoted += "\\\\";
    else
      quoted += c;
  }
  return quoted + "\"";
}

const char* IdlType(ValueType type) {
  switch (type) {
    case ValueType::kI2:
      return "short";
    case ValueType::kI4:
      return "long";
    case ValueType::kBstr:
      return "BSTR";
    default:
      return nullptr;
  }
}

bool WriteIdl(const std::string& path) {
  std::ofstream out(path);
  out << "// Generated from the control's method table; do not edit.\n"
      << "import \"oaidl.idl\";\n\n"
      << "[\n  uuid(" << GuidText(identity::kLibId) << "),\n"
      << "  version(" << identity::kLibMajor << "." << identity::kLibMinor << "),\n"
      << "  lcid(0x" << std::hex << identity::kLibLocale << std::dec << "),\n"
      << "  helpstring(" << Quoted(identity::kLibHelpString, false) << "),\n"
      << "  helpfile(" << Quoted(identity::kLibHelpFile, false) << "),\n"
      << "  helpcontext(0),\n  control\n]\n"
      << "library " << identity::kLibName << "\n{\n"
      << "  importlib(\"stdole2.tlb\");\n\n"
      << "  [\n    uuid(" << GuidText(identity::kDispatchIid) << "),\n"
      << "    helpstring(" << Quoted(identity::kDispatchHelpString, false) << "),\n"
      << "    helpcontext(0),\n    hidden\n  ]\n"
      << "  dispinterface " << identity::kDispatchName << "\n  {\n"
      << "  properties:\n  methods:\n";
  for (const MethodInfo& method : MethodTable()) {
    const char* result = IdlType(method.result);
    if (result == nullptr) return false;
    out << "    [id(" << method.dispid << ")] " << result << " " << method.name << "(";
    for (size_t i = 0; i < method.params.size(); ++i) {
      const char* type = IdlType(method.params[i].type);
      if (type == nullptr) return false;
      out << (i == 0 ? "" : ", ") << type << " " << method.params[i].name;
    }
    out << ");\n";
  }
  out << "  };\n\n"
      << "  [\n    uuid(" << GuidText(identity::kEventsIid) << "),\n"
      << "    helpstring(" << Quoted(identity::kEventsHelpString, false) << "),\n"
      << "    helpcontext(0)\n  ]\n"
      << "  dispinterface " << identity::kEventsName << "\n  {\n"
      << "  properties:\n  methods:\n  };\n\n"
      << "  [\n    uuid(" << GuidText(identity::kControlClsid) << "),\n"
      << "    helpstring(" << Quoted(identity::kControlTypeName, false) << "),\n"
      << "    helpcontext(0),\n    control\n  ]\n"
      << "  coclass " << identity::kClassName << "\n  {\n"
      << "    [default] dispinterface " << identity::kDispatchName << ";\n"
      << "    [default, source] dispinterface " << identity::kEventsName << ";\n"
      << "  };\n};\n";
  return static_cast<bool>(out);
}

void Put16(std::ofstream& out, uint32_t v) {
  out.put(static_cast<char>(v & 0xFF)).put(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::ofstream& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// 32 x 32, 24 bits per pixel, uncompressed, bottom row first.
bool WriteBitmap(const std::string& path) {
  constexpr uint32_t kSide = 32;
  constexpr uint32_t kRowBytes = kSide * 3;  // already a multiple of 4
  constexpr uint32_t kPixelBytes = kRowBytes * kSide;
  constexpr uint32_t kHeaders = 14 + 40;
  std::ofstream out(path, std::ios::binary);
  out.write("BM", 2);
  Put32(out, kHeaders + kPixelBytes);
  Put32(out, 0);
  Put32(out, kHeaders);
  Put32(out, 40);
  Put32(out, kSide);
  Put32(out, kSide);
  Put16(out, 1);
  Put16(out, 24);
  Put32(out, 0);  // BI_RGB
  Put32(out, kPixelBytes);
  Put32(out, 3780);  // 96 dots per inch
  Put32(out, 3780);
  Put32(out, 0);
  Put32(out, 0);
  for (int32_t y = kSide - 1; y >= 0; --y) {
    for (int32_t x = 0; x < static_cast<int32_t>(kSide); ++x) {
      const identity::PictureInk ink = identity::PictureInkAt(x, y);
      out.put(static_cast<char>(ink.blue))
          .put(static_cast<char>(ink.green))
          .put(static_cast<char>(ink.red));
    }
  }
  return static_cast<bool>(out);
}

bool WriteResourceScript(const std::string& path) {
  std::ofstream out(path);
  out << "// Generated from the module's identity; do not edit.\n"
      << "#include <windows.h>\n\n"
      << "STRINGTABLE\nBEGIN\n"
      << "  " << identity::kIdsControl << " " << Quoted(identity::kControlTypeName, true) << "\n"
      << "  " << identity::kIdsPage << " " << Quoted(identity::kPageTypeName, true) << "\n"
      << "  " << identity::kIdsPageCaption << " " << Quoted(identity::kPageCaption, true) << "\n"
      << "END\n\n"
      << identity::kIdbPicture << " BITMAP \"picture202.bmp\"\n\n"
      << identity::kIdrTypeLib
      << " TYPELIB \"TarvonaActiveX.tlb\"\n\n"
      // A child dialog without frame or caption.
      << identity::kIddPage << " DIALOG 0, 0, 250, 62\n"
      << "STYLE WS_CHILD\n"
      << "FONT 8, \"MS Sans Serif\"\n"
      << "BEGIN\n"
      << "  LTEXT " << Quoted(identity::kPageText, true)
      << ", -1, 7, 25, 229, 16, SS_LEFT | WS_VISIBLE | WS_GROUP\n"
      << "END\n";
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  if (!WriteIdl(folder + "/TarvonaActiveX.idl") || !WriteBitmap(folder + "/picture202.bmp") ||
      !WriteResourceScript(folder + "/TarvonaActiveX.rc")) {
    std::fprintf(stderr, "%s: cannot write into %s\n", argv[0], folder.c_str());
    return 1;
  }
  return 0;
}
