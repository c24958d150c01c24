// Pieces of the emulated platform shared by its runtime, BLAS and driver files.
#pragma once

#include <cstddef>
#include <cstdint>

// True when [ptr, ptr + bytes) lies inside one device allocation; sets *device to its GPU.
bool sim_device_range(const void* ptr, size_t bytes, int* device = nullptr);
// True when ptr starts inside a device allocation (used where any pointer is allowed but a
// range that starts in device memory must stay inside it).
bool sim_device_pointer(const void* ptr);
size_t sim_device_used(int device);

// Page-locked host buffers (not accounted on any GPU).
void* sim_host_alloc(size_t bytes);
bool sim_host_free(void* ptr);
