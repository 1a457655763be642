// The line speed each port's display was last found at, kept between runs so that
// the next command tries it first instead of scanning from 9600. A small JSON object
// ({"/dev/serial/by-id/...": 38400, ...}) keyed by the port's stable name.
#pragma once

#include <string>
#include <vector>

namespace tarsel::cli {

// $XDG_STATE_HOME/tarsel/ports.json, else ~/.local/state/tarsel/ports.json; empty
// when neither can be told.
std::string DefaultSpeedMemoryFile();

// The speed remembered for `port`, 0 when none (or the file cannot be read).
int RecallSpeed(const std::string& file, const std::string& port);

// Remembers `baud` for `port`. Several displays may be found at once (provision):
// the file is read and written under a lock, and replaced atomically. Failures are
// ignored: it only saves time.
void RememberSpeed(const std::string& file, const std::string& port, int baud);

// The speeds to try: the remembered one first, then the others in their order.
std::vector<int> SpeedsToTry(const std::vector<int>& speeds, int remembered);

} // namespace tarsel::cli
