// The two threads of one decoder instance: one feeds the bit stream in, one drains decoded frames.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>

#include <cuda.h>
#include <cuvid.h>

#include "options.h"

extern CUvideodecoder vdec_handle[kMaxInstances];
extern CUcontext m_cuContext; // shared by every thread
extern int64_t total_frames;  // frames decoded by all instances, guarded by mutex_cnt
extern int64_t instance_frames[kMaxInstances];  // per instance, guarded by mutex_cnt
extern std::mutex mutex_cnt;

struct ThreadArgument {
    CUvideodecoder handle = nullptr;
    const RunConfig* config = nullptr;
    int index = 0;
    FILE* frameFile = nullptr; // the instance's frame file when frames are written
};

// Feeding thread: submits the input file in 262144-byte packets, then the end-of-stream packet.
void* task_send_bitstream(void* argument);
// Frame thread: maps every decoded frame, counts it, and appends it to the frame file.
void* get_video_frame(void* argument);
