#pragma once

#include "app/cli/CliArgs.h"

namespace velda::cli {

// Logs in, applies the gates of the menu command that matches the subcommand, runs it through
// the same operations as its dialog and returns the exit code.
int Run(const CliArgs& args);

} // namespace velda::cli
