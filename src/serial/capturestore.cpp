#include "serial/capturestore.h"

QStringList receivedChunks;
qint32 portOpened = 0;
qint32 captureState = 0;
