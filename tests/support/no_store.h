// Forwards to testing/no_store.h, where this header now lives; goes when the last
// include of this path does.
#pragma once

#include "testing/no_store.h"
