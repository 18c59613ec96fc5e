#pragma once

#include <string>

// Pseudo-terminal plumbing of the simulated device, shared with the tests and benchmarks.
namespace pty {

// Opens a pseudo-terminal. Both ends are raw, so nothing is echoed or translated, and
// close-on-exec, so that a child cannot keep the line from hanging up; the master is
// non-blocking. *path is the far end's name, for the host to open. On failure returns false
// with *error set and nothing left open.
bool openPair(int *master, int *slave, std::string *path, std::string *error);

// A pipe that wakes a thread waiting in poll() on fds[0]; both ends are non-blocking and
// close-on-exec. On failure returns false with *error set and nothing left open.
bool openWakePipe(int fds[2], std::string *error);
// Never blocks, so it is safe from any thread and from a signal handler.
void wake(int writeFd);
// Empties the pipe after a wake-up.
void drain(int readFd);

// Closes *fd if it is open and marks it closed.
void closeFd(int *fd);

} // namespace pty
