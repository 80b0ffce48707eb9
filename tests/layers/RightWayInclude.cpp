// Compiled with the platform layer's include path: what a platform unit may include.
#include "C/system/ErrorReport.h"
#include "platform/Read.h"
#include "runtime/Queue.h"
