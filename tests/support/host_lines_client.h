// Forwards to testing/host_lines_client.h, where this header now lives; goes when the last
// include of this path does.
#pragma once

#include "testing/host_lines_client.h"
