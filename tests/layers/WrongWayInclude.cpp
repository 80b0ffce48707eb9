// Compiled with the platform layer's include path: a platform unit may not see a resource.
// The build's layer check expects this file to fail to compile.
#include "system/CPU.h"
