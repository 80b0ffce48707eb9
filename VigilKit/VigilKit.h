#pragma once

// The collector layer: the collectors and the object they share.
#include "SystemManager.h"
#include "collectors/CPUData.h"
#include "collectors/GPUData.h"
#include "collectors/MemoryData.h"
