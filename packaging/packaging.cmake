# What `cmake --install` puts where, the Debian package built from it (cpack, or the `package`
# target), and the toolbox bundle. Included last by the top CMakeLists.txt, so it sees every
# program target the directory list built; a program left out of the build is left out here.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(QUELVAN_PACKAGE quelvan-ostrel-utils)
set(QUELVAN_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/${QUELVAN_PACKAGE})
set(QUELVAN_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QUELVAN_MAN_DIR ${PROJECT_SOURCE_DIR}/docs/man)
set(QUELVAN_STAGED ${PROJECT_BINARY_DIR}/packaging)

# The root tool goes where root's tools go; the real-GPU benchmarks where users' tools go.
if(TARGET gputuner)
  install(TARGETS gputuner RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
endif()
foreach(real matpulse_real xferclock)
  if(TARGET ${real})
    install(TARGETS ${real} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The emulated flavours under names that say so. install(TARGETS) cannot rename, so they are
# installed as programs and stripped here the way install(TARGETS) strips.
foreach(sim matpulse xferclock vidprobe)
  if(TARGET ${sim}_sim)
    install(PROGRAMS $<TARGET_FILE:${sim}_sim> DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME ${sim}-sim)
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\"
                        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${sim}-sim\")
      endif()")
  endif()
endforeach()

# Man pages and the changelog, compressed as Debian policy asks (gzip -n: no name or time stamp,
# so the package is reproducible). A -sim page is a link to its program's page.
set(QUELVAN_MAN_PAGES gputuner.8 matpulse.1 xferclock.1 vidprobe-sim.1)
set(QUELVAN_MAN_LINKS matpulse-sim.1=matpulse.1 xferclock-sim.1=xferclock.1)
set(QUELVAN_GZIPPED)
foreach(page ${QUELVAN_MAN_PAGES})
  string(REGEX REPLACE ".*\\." "" section ${page})
  add_custom_command(OUTPUT ${QUELVAN_STAGED}/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUELVAN_STAGED}
    COMMAND gzip -9nc ${QUELVAN_MAN_DIR}/${page} > ${QUELVAN_STAGED}/${page}.gz
    DEPENDS ${QUELVAN_MAN_DIR}/${page} VERBATIM)
  list(APPEND QUELVAN_GZIPPED ${QUELVAN_STAGED}/${page}.gz)
  install(FILES ${QUELVAN_STAGED}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
foreach(link ${QUELVAN_MAN_LINKS})
  string(REPLACE "=" ";" link ${link})
  list(GET link 0 name)
  list(GET link 1 target)
  string(REGEX REPLACE ".*\\." "" section ${name})
  file(MAKE_DIRECTORY ${QUELVAN_STAGED})
  file(CREATE_LINK ${target}.gz ${QUELVAN_STAGED}/${name}.gz SYMBOLIC)
  install(FILES ${QUELVAN_STAGED}/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

# The fleet files of contrib/, for gputuner. The units go where systemd looks for a package's
# units; installing them enables nothing (each host's administrator decides which to enable, and
# the profile unit waits for a saved profile). The Slurm health check is an example: the
# administrator copies it to the path slurm.conf names on every node.
if(TARGET gputuner)
  install(FILES ${PROJECT_SOURCE_DIR}/contrib/systemd/quelvan-metrics.service
                ${PROJECT_SOURCE_DIR}/contrib/systemd/quelvan-metrics.timer
                ${PROJECT_SOURCE_DIR}/contrib/systemd/quelvan-pcie-profile.service
          DESTINATION lib/systemd/system)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/contrib/slurm/quelvan-healthcheck
          DESTINATION ${QUELVAN_DOCDIR}/examples)
endif()

configure_file(${QUELVAN_PACKAGING_DIR}/changelog.in ${QUELVAN_STAGED}/changelog @ONLY)
add_custom_command(OUTPUT ${QUELVAN_STAGED}/changelog.gz
  COMMAND gzip -9nc ${QUELVAN_STAGED}/changelog > ${QUELVAN_STAGED}/changelog.gz
  DEPENDS ${QUELVAN_STAGED}/changelog VERBATIM)
list(APPEND QUELVAN_GZIPPED ${QUELVAN_STAGED}/changelog.gz)
add_custom_target(quelvan_docs ALL DEPENDS ${QUELVAN_GZIPPED})
install(FILES ${QUELVAN_PACKAGING_DIR}/copyright ${QUELVAN_STAGED}/changelog.gz
        DESTINATION ${QUELVAN_DOCDIR})

# The Debian package: quelvan-ostrel-utils_<version>_amd64.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QUELVAN_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quelvan")
set(CPACK_PACKAGE_CONTACT "Quelvan Ostrel utilities maintainers <ostrel-utils@quelvan.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "PCIe tuner and GPU benchmarks for Quelvan Ostrel GPU hosts")
set(CPACK_PACKAGE_DESCRIPTION
"Command-line utilities for administrators of hosts with Quelvan GPUs
on PCI Express: gputuner lists the GPUs, draws their PCIe topology,
traces the usual causes of slow transfers and changes ACS, MaxPayload,
MaxReadReq and the completion time-out; matpulse (GEMM throughput) and
xferclock (copy latency) benchmark the GPUs through the CUDA runtime.
The emulated flavours matpulse-sim, xferclock-sim and vidprobe-sim run
the same programs on the host CPU, for hosts without GPUs.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
# Library dependencies from the binaries; gputuner also runs setpci and lspci (through sh and
# grep, both essential). The CUDA libraries of the real flavour belong to the toolkit and the
# GPU driver, which no Debian package provides; they are looked up there and left out.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pciutils")
if(QUELVAN_REAL_GPU)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
      ${CUDAToolkit_LIBRARY_DIR} ${CUDAToolkit_LIBRARY_DIR}/stubs)
endif()
include(CPack)

# The toolbox bundle: the toolbox installer beside the toolbox files it installs (bin/ with
# the tools), as a tarball. `cmake --build build --target bundle` gives
# build/ostrel-toolbox-<version>.tar.gz.
if(TARGET ostrel-toolbox-installer)
  set(bundle_dir ${PROJECT_BINARY_DIR}/bundle/ostrel-toolbox)
  set(bundle_tools)
  foreach(tool gputuner matpulse_real xferclock)
    if(TARGET ${tool})
      list(APPEND bundle_tools $<TARGET_FILE:${tool}>)
    endif()
  endforeach()
  set(bundle_sims)
  foreach(sim matpulse xferclock vidprobe)
    if(TARGET ${sim}_sim)
      list(APPEND bundle_sims COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${sim}_sim>
                                      ${bundle_dir}/bin/${sim}-sim)
    endif()
  endforeach()
  set(bundle_tar ${PROJECT_BINARY_DIR}/ostrel-toolbox-${PROJECT_VERSION}.tar.gz)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/bundle)
  add_custom_target(bundle
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${bundle_dir}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${bundle_dir}/bin
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:ostrel-toolbox-installer> ${bundle_dir}/
    COMMAND ${CMAKE_COMMAND} -E copy ${bundle_tools} ${bundle_dir}/bin/
    ${bundle_sims}
    COMMAND ${CMAKE_COMMAND} -E tar czf ${bundle_tar} ostrel-toolbox
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/bundle
    COMMENT "Toolbox bundle ${bundle_tar}"
    VERBATIM)
endif()
