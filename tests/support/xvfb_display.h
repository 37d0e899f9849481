// Forwards to testing/xvfb_display.h, where this header now lives; goes when the last
// include of this path does.
#pragma once

#include "testing/xvfb_display.h"
