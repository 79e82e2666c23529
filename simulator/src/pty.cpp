#include "pty.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

namespace tarvik_sim {

bool OpenPty(PtyPair* pair, std::string* error) {
  auto fail = [&](const char* what) {
    if (error != nullptr) *error = std::string(what) + ": " + strerror(errno);
    return false;
  };
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0) return fail("posix_openpt");
  char name[128];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    int saved = errno;
    close(master);
    errno = saved;
    return fail("pseudo-terminal set-up");
  }
  int slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) {
    int saved = errno;
    close(master);
    errno = saved;
    return fail("open pseudo-terminal slave");
  }
  struct termios tio;
  if (tcgetattr(slave, &tio) == 0) {
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tio.c_cflag |= CLOCAL | CREAD;
    tcsetattr(slave, TCSANOW, &tio);
  }
  pair->master = master;
  pair->slave = slave;
  pair->slave_path = name;
  return true;
}

bool PublishLink(const std::string& dir, const std::string& name, const std::string& target,
                 std::string* error) {
  std::string path = dir + "/" + name;
  // The temporary name must never look like a port to a host scanning the directory.
  static int counter = 0;
  std::string temporary = dir + "/.tarvik-sim-tmp-" + std::to_string(getpid()) + "-" +
                          std::to_string(__atomic_add_fetch(&counter, 1, __ATOMIC_RELAXED));
  unlink(temporary.c_str());
  if (symlink(target.c_str(), temporary.c_str()) != 0) {
    if (error != nullptr) *error = "symlink " + temporary + ": " + strerror(errno);
    return false;
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    if (error != nullptr) *error = "rename to " + path + ": " + strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

void UnlinkIfPointingAt(const std::string& path, const std::string& target) {
  char buffer[4096];
  const ssize_t length = readlink(path.c_str(), buffer, sizeof buffer - 1);
  if (length < 0) return;
  buffer[length] = '\0';
  if (target == buffer) unlink(path.c_str());
}

}  // namespace tarvik_sim
