#include "ui/SanitizerDefaults.h"
