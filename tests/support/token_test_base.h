// Forwards to testing/token_test_base.h, where this header now lives; goes when the last
// include of this path does.
#pragma once

#include "testing/token_test_base.h"
