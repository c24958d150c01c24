// Entry header of the emulated runtime, named like the vendor's.
#pragma once

#include "cuda_runtime_api.h"
