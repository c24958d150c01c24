# vidprobe against "ffmpeg -benchmark" on a 1080p H.264 stream: cmake --build <build> --target
# bench_vidprobe (built on demand, never run by ctest).
if(TARGET vidprobe_sim)
  add_custom_target(bench_vidprobe
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/vidprobe_bench.sh $<TARGET_FILE:vidprobe_sim>
            ${CMAKE_BINARY_DIR}/bench_vidprobe
    DEPENDS vidprobe_sim USES_TERMINAL)
endif()
