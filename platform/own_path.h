#pragma once

#include <filesystem>

namespace tarvona::platform {

// The full path of the binary this code is linked into: the control's
// module file when it is loaded as one, otherwise the program. Empty when
// the system cannot tell.
std::filesystem::path OwnBinaryPath();

// The folder of that binary, where the files installed with it sit (token
// modules, helper programs). Empty when unknown.
std::filesystem::path OwnFolder();

}  // namespace tarvona::platform
