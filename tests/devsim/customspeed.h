#pragma once

// Sets a non-standard line speed the way Qt does on Linux (termios2 with BOTHER).
// Kept apart from <termios.h>, which clashes with the kernel header this needs.
bool setCustomSpeed(int fd, long baud);
