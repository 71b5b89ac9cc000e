#pragma once

#include <string>
#include <vector>

#include "support/MediaFactory.h"

namespace klangor {

// klangor-convert of this build, run as a user runs it: the arguments after the program name.
inline const std::string kProgram = std::string(KLANGOR_BINARY_DIR) + "/src/klangor-convert";

inline CommandResult Convert(std::vector<std::string> args) {
    args.insert(args.begin(), kProgram);
    return RunCommand(args);
}

}  // namespace klangor
