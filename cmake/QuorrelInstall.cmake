# QuorrelInstall.cmake -- what `cmake --install` puts under the prefix: the engine's
# static libraries with their public headers, a CMake package (find_package(Quorrel)
# gives Quorrel::io, Quorrel::gfx and Quorrel::em) and a pkg-config file per library.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUORREL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quorrel)
set(QUORREL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# quorrel_install_library(<target> HEADER <file> DESCRIPTION <text>
#                         [REQUIRES <modules...>] [REQUIRES_PRIVATE <modules...>])
# In the tree an engine library is used through the source root, where its
# local headers lie beside the public one; installed, through <prefix>/include,
# which holds the public header alone. The archive is named libquorrel-<target>.a
# so that it cannot be mistaken for another library in a shared lib folder.
# REQUIRES and REQUIRES_PRIVATE are the pkg-config modules quorrel-<target>.pc
# names; the file is written when installing, for the prefix installed into.
function(quorrel_install_library target)
  cmake_parse_arguments(L "" "HEADER;DESCRIPTION" "REQUIRES;REQUIRES_PRIVATE" ${ARGN})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME quorrel-${target})
  install(TARGETS ${target} EXPORT QuorrelTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${L_HEADER} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${target})

  string(REPLACE ";" " " requires "${L_REQUIRES}")
  string(REPLACE ";" " " requiresprivate "${L_REQUIRES_PRIVATE}")
  set(pcfile ${PROJECT_BINARY_DIR}/pkgconfig/quorrel-${target}.pc)
  install(CODE "
    set(QUORREL_PC_NAME [=[quorrel-${target}]=])
    set(QUORREL_PC_DESCRIPTION [=[${L_DESCRIPTION}]=])
    set(QUORREL_PC_REQUIRES [=[${requires}]=])
    set(QUORREL_PC_REQUIRES_PRIVATE [=[${requiresprivate}]=])
    set(QUORREL_PC_VERSION [=[${PROJECT_VERSION}]=])
    set(QUORREL_PC_LIBDIR [=[${CMAKE_INSTALL_LIBDIR}]=])
    set(QUORREL_PC_INCLUDEDIR [=[${CMAKE_INSTALL_INCLUDEDIR}]=])
    set(QUORREL_PC_TEMPLATE [=[${PROJECT_SOURCE_DIR}/cmake/quorrel.pc.in]=])
    set(QUORREL_PC_FILE [=[${pcfile}]=])
    include([=[${PROJECT_SOURCE_DIR}/cmake/QuorrelPkgConfig.cmake]=])")
  install(FILES ${pcfile} DESTINATION ${QUORREL_PKGCONFIGDIR})
endfunction()

# quorrel_install_package(): the CMake package of every library installed with
# quorrel_install_library; call it once they all are.
function(quorrel_install_package)
  install(EXPORT QuorrelTargets NAMESPACE Quorrel:: DESTINATION ${QUORREL_CMAKEDIR})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/QuorrelConfig.cmake.in
    ${PROJECT_BINARY_DIR}/QuorrelConfig.cmake INSTALL_DESTINATION ${QUORREL_CMAKEDIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuorrelConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES
    ${PROJECT_BINARY_DIR}/QuorrelConfig.cmake
    ${PROJECT_BINARY_DIR}/QuorrelConfigVersion.cmake
    ${PROJECT_SOURCE_DIR}/cmake/QuorrelDependencies.cmake
    DESTINATION ${QUORREL_CMAKEDIR})
endfunction()
