// Device and page-locked host memory of the emulated GPUs. Both are anonymous mappings reserved
// without backing, so an allocation that is never written costs no host memory.
#include <sys/mman.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "sim_config.h"
#include "sim_internal.h"

namespace {

struct Allocation {
    int device;  // -1 for page-locked host memory
    size_t bytes;
};

struct MemoryState {
    std::mutex mutex;
    std::map<uintptr_t, Allocation> blocks;  // by start address
    std::vector<size_t> used;                // per GPU
};

MemoryState& state()
{
    static MemoryState* s = [] {
        auto* m = new MemoryState;
        m->used.assign(static_cast<size_t>(sim_gpu_count()), 0);
        return m;
    }();
    return *s;
}

void* map_bytes(size_t bytes)
{
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

// The allocation that contains ptr, or blocks.end().
std::map<uintptr_t, Allocation>::iterator containing(MemoryState& s, uintptr_t ptr)
{
    auto it = s.blocks.upper_bound(ptr);
    if (it == s.blocks.begin())
        return s.blocks.end();
    --it;
    return ptr < it->first + it->second.bytes ? it : s.blocks.end();
}

bool release(int device_kind, void* ptr)
{
    MemoryState& s = state();
    size_t bytes = 0;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        auto it = s.blocks.find(reinterpret_cast<uintptr_t>(ptr));
        bool host = it != s.blocks.end() && it->second.device < 0;
        if (it == s.blocks.end() || host != (device_kind < 0))
            return false;
        bytes = it->second.bytes;
        if (!host)
            s.used[static_cast<size_t>(it->second.device)] -= bytes;
        s.blocks.erase(it);
    }
    munmap(ptr, bytes);
    return true;
}

}  // namespace

void* sim_device_alloc(int device, size_t bytes)
{
    if (device < 0 || device >= sim_gpu_count() || bytes == 0)
        return nullptr;
    MemoryState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    size_t& used = s.used[static_cast<size_t>(device)];
    if (bytes > sim_gpu(device).total_bytes - used)
        return nullptr;
    void* p = map_bytes(bytes);
    if (!p)
        return nullptr;
    used += bytes;
    s.blocks[reinterpret_cast<uintptr_t>(p)] = {device, bytes};
    return p;
}

bool sim_device_free(void* ptr) { return release(0, ptr); }

void* sim_host_alloc(size_t bytes)
{
    if (bytes == 0)
        return nullptr;
    void* p = map_bytes(bytes);
    if (!p)
        return nullptr;
    MemoryState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.blocks[reinterpret_cast<uintptr_t>(p)] = {-1, bytes};
    return p;
}

bool sim_host_free(void* ptr) { return release(-1, ptr); }

bool sim_device_range(const void* ptr, size_t bytes, int* device)
{
    MemoryState& s = state();
    auto start = reinterpret_cast<uintptr_t>(ptr);
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = containing(s, start);
    if (it == s.blocks.end() || it->second.device < 0 ||
        bytes > it->first + it->second.bytes - start)
        return false;
    if (device)
        *device = it->second.device;
    return true;
}

bool sim_device_pointer(const void* ptr)
{
    MemoryState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = containing(s, reinterpret_cast<uintptr_t>(ptr));
    return it != s.blocks.end() && it->second.device >= 0;
}

size_t sim_device_used(int device)
{
    MemoryState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.used.at(static_cast<size_t>(device));
}
