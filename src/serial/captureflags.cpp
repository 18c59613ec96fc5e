#include "serial/captureflags.h"

qint32 portOpened = 0;
qint32 captureState = 0;
