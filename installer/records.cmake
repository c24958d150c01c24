# Installation records and the uninstaller, part of the installer library.
target_sources(quelvan_installer PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/records.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uninstall.cpp
)

if(NOT BUILD_TESTING)
  return()
endif()
add_executable(records_tests
  ${CMAKE_CURRENT_LIST_DIR}/tests/records_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/records_uninstall_test.cpp
)
# The round trip also writes with the driver engine's writer.
target_link_libraries(records_tests PRIVATE quelvan_driver_engine GTest::gtest_main)
target_compile_definitions(records_tests PRIVATE
  QUELVAN_STUBS_DIR="${PROJECT_SOURCE_DIR}/testing/stubs")
gtest_discover_tests(records_tests DISCOVERY_TIMEOUT 60)
