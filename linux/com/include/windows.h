#pragma once

// What the Linux runtime declares of Windows for COM code: the base types
// and result codes, COM and automation, the registry calls, the message
// queue.

#include "objbase.h"
#include "ole2.h"
#include "oleauto.h"
#include "stringapiset.h"
#include "winerror.h"
#include "wingdi.h"
#include "winreg.h"
#include "winuser.h"
#include "wtypes.h"
