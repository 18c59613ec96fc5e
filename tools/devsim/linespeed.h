#pragma once

// Kept apart from <termios.h>: on Linux the implementation needs <asm/termbits.h>, which clashes
// with it.
namespace devsim {
namespace detail {

// The output speed of the terminal on fd in bits per second, custom rates included; -1 on failure.
long lineSpeed(int fd);

} // namespace detail
} // namespace devsim
