# Pre-installation checks, the module build (direct and DKMS), module signing and the
# driver-mode entry, with their tests. Included by this directory's CMakeLists.txt.
target_sources(quelvan_driver_engine PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/pre_installation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_build.cpp
  ${CMAKE_CURRENT_LIST_DIR}/module_signing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dkms.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_entry.cpp
)

add_executable(ostrel-driver-installer ${CMAKE_CURRENT_LIST_DIR}/driver_main.cpp)
target_link_libraries(ostrel-driver-installer PRIVATE quelvan_driver_engine)

if(NOT BUILD_TESTING)
  return()
endif()
# The same entry with the host-access layer pointed at a fixture (tests only).
add_executable(driver_entry_harness ${CMAKE_CURRENT_LIST_DIR}/tests/driver_entry_harness.cpp)
target_link_libraries(driver_entry_harness PRIVATE quelvan_driver_engine)

add_executable(driver_engine2_tests
  ${CMAKE_CURRENT_LIST_DIR}/tests/pre_installation_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/driver_build_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/driver_entry_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/reinstall_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/driverpkg_sandbox.cpp
)
target_link_libraries(driver_engine2_tests PRIVATE quelvan_driver_engine GTest::gtest_main)
target_compile_definitions(driver_engine2_tests PRIVATE
  QUELVAN_DRIVERPKG_DIR="${PROJECT_SOURCE_DIR}/testing/driverpkg"
  QUELVAN_STUBS_DIR="${PROJECT_SOURCE_DIR}/testing/stubs"
  QUELVAN_ENTRY_HARNESS="$<TARGET_FILE:driver_entry_harness>")
add_dependencies(driver_engine2_tests driver_entry_harness)
gtest_discover_tests(driver_engine2_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
