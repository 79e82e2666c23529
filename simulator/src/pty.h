// Pseudo-terminal helpers of the simulated module.
#ifndef TARVIK_SIM_SRC_PTY_H_
#define TARVIK_SIM_SRC_PTY_H_

#include <string>

namespace tarvik_sim {

struct PtyPair {
  int master = -1;  // non-blocking, the module's side
  int slave = -1;   // kept open by the module itself (see OpenPty)
  std::string slave_path;
};

// Opens a pseudo-terminal in raw mode (115200 8N1). The module keeps a slave descriptor of its own
// open for the life of the pair: while any slave is open the master never reports hang-up, so a
// host that closes its side cannot make the module spin, and after the master is closed the held
// slave keeps the pseudo-terminal number occupied.
bool OpenPty(PtyPair* pair, std::string* error);

// Points `dir/name` at `target`, replacing an existing link atomically.
bool PublishLink(const std::string& dir, const std::string& name, const std::string& target,
                 std::string* error);

// Removes the link `path` only while it still points at `target`.
void UnlinkIfPointingAt(const std::string& path, const std::string& target);

}  // namespace tarvik_sim

#endif  // TARVIK_SIM_SRC_PTY_H_
