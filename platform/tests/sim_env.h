// The emulated machine every platform test runs on: three GPUs of 64 MiB with different
// capabilities. Set before the platform reads its configuration.
#pragma once

#include <cstdlib>

inline void set_sim_env()
{
    setenv("QUELVAN_SIM_GPUS", "3", 1);
    setenv("QUELVAN_SIM_MEM_MB", "64", 1);
    setenv("QUELVAN_SIM_CC", "7.0,8.0,9.0", 1);
}
