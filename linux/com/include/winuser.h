#pragma once

// A thread's message queue, as an apartment's host pumps it. No Linux
// process of ours has windows, so the queue is always empty.

#include "wtypes.h"

inline constexpr UINT PM_REMOVE = 0x0001;

inline BOOL PeekMessageW(LPMSG, HWND, UINT, UINT, UINT) { return FALSE; }
inline BOOL TranslateMessage(const MSG*) { return FALSE; }
inline LONG_PTR DispatchMessageW(const MSG*) { return 0; }
