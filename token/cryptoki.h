#pragma once

// Cryptoki types and constants, from p11-kit's copy of the published header.
#include <p11-kit/pkcs11.h>
