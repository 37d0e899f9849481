#pragma once

// OLE's helpers as Windows declares them, for what the Linux runtime has.

#include "oleidl.h"

// A holder of advise sinks: connections numbered from 1, each sink held
// until unadvised. EnumAdvise gives E_NOTIMPL.
extern "C" HRESULT CreateOleAdviseHolder(IOleAdviseHolder** holder);

// The verbs HKEY_CLASSES_ROOT\CLSID\{clsid}\Verb lists: OLEOBJ_E_NOVERBS
// when there is no such key; listing them is not offered (E_NOTIMPL).
extern "C" HRESULT OleRegEnumVerbs(REFCLSID clsid, IEnumOLEVERB** verbs);
