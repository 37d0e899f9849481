#pragma once

// What the in-process server does differently on each system, one source
// per system chosen by CMake: ocx_platform_win32.cpp over Windows' own
// libraries, ocx_platform_linux.cpp over the Linux COM runtime. Nothing
// else of the server knows which system it is on.

#include <objbase.h>
#include <ocidl.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace tarvona::ocx {

// COM's text: std::wstring on Windows, UTF-16 in char16_t on Linux.
using OleString = std::basic_string<OLECHAR>;
using OleStringView = std::basic_string_view<OLECHAR>;

// An ASCII text (names, numbers) as COM text.
inline OleString Widen(std::string_view ascii) { return OleString(ascii.begin(), ascii.end()); }

// The module file's full name; empty on failure.
OleString ModuleFileName();
// The name the registration record holds for it: its short (8.3) form
// where the system has one.
OleString RegisteredModulePath();

// A string resource of the module; empty when it is missing.
OleString LoadModuleString(UINT id);

// The module's type library: its type information, and its registration.
HRESULT TypeInfoOf(const GUID& guid, LCID lcid, ITypeInfo** info);
HRESULT RegisterTypeLibrary();
HRESULT UnregisterTypeLibrary();

// Paints the picture (bitmap 202, 30 x 30) at the target's origin.
void DrawPicture(HDC target);

// The frame showing the control's property page, modal over `parent`.
HRESULT ShowPropertyFrame(HWND parent, IUnknown* object);

// The property page's window: dialog 200 with its one line of text. Null
// where the system has no such window.
HWND CreatePageWindow(HWND parent);
void DestroyPageWindow(HWND window);
void PlacePageWindow(HWND window, const RECT& rect);
void ShowPageWindow(HWND window, UINT command);
bool PageWindowTakesMessage(HWND window, MSG* message);
// The dialog's size in pixels.
SIZE PageSize();

}  // namespace tarvona::ocx
