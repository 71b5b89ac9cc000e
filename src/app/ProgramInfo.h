#pragma once

#include <optional>

namespace klangor {

// "klangor --help" and "klangor --version": answered on standard output before any window or display
// is needed, so they work on a terminal without a desktop. Every other argument is left to the
// program. Returns the exit status when one of them was asked for, nothing otherwise.
std::optional<int> AnswerInfoOption(int argc, char **argv);

// The --help text.
const char *ProgramUsageText();

}  // namespace klangor
