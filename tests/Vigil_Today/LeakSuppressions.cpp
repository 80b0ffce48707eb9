#include "ui/LeakSuppressions.h"
