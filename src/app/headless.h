#pragma once
#include "command_line.h"

// The headless service: the engine alone, with no window and no display. It
// polls the remembered addresses (a scan of 0..90 first when none are
// remembered), logs and publishes, and on SIGTERM or SIGINT decides the
// replies on their way, writes the queue, closes the port and exits 0. A
// port held by another program is said on standard error with the holder,
// and the service exits 1. Returns the exit status.
int run_headless(int argc, char** argv, const CommandLine& options);
