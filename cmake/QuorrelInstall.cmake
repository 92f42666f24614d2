# QuorrelInstall.cmake -- how the engine's libraries are made, and what `cmake
# --install` puts under the prefix: each library shared and static with its public
# header, a CMake package (find_package(Quorrel) gives Quorrel::io, Quorrel::gfx and
# Quorrel::em, shared, and Quorrel::<name>_static; one component per library) and
# two pkg-config files per library (quorrel-<name> shared, quorrel-<name>-static).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUORREL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quorrel)
set(QUORREL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# quorrel_add_library(<name> SOURCES <files...> HEADER <file> DESCRIPTION <text>
#                     [HEADER_DEPS <targets...>] [LINK_DEPS <targets...>]
#                     [REQUIRES <modules...>] [REQUIRES_PRIVATE <modules...>])
# An engine library, compiled once (position-independent, every symbol hidden
# but those its public header declares) into two libraries of the same name,
# libquorrel-<name>.a and libquorrel-<name>.so.<major>:
#   <name>         the static library: the tree's programs and tests link it,
#                  internals included; installed as Quorrel::<name>_static;
#   <name>_shared  the shared library, whose export table holds the public
#                  header's calls and data alone; installed as Quorrel::<name>.
# HEADER_DEPS are needed by whoever includes the header (gfx.h includes SDL.h);
# LINK_DEPS only by the library's own code: the static library passes them on
# to the program's link, the shared one links them itself. An engine library
# among the deps is linked in the same kind. REQUIRES and REQUIRES_PRIVATE are
# the pkg-config modules of the shared library's quorrel-<name>.pc; the static
# library's quorrel-<name>-static.pc requires them all (the engine's own as
# their -static modules). In the tree a library is used through the source
# root, where its local headers lie beside the public one; installed, through
# <prefix>/include, which holds the public header alone.
function(quorrel_add_library name)
  cmake_parse_arguments(L "" "HEADER;DESCRIPTION" "SOURCES;HEADER_DEPS;LINK_DEPS;REQUIRES;REQUIRES_PRIVATE" ${ARGN})
  add_library(${name}_objects OBJECT ${L_SOURCES})
  set_target_properties(${name}_objects PROPERTIES POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${name}_objects PRIVATE ${L_HEADER_DEPS} ${L_LINK_DEPS})
  target_include_directories(${name}_objects PRIVATE ${PROJECT_SOURCE_DIR})

  add_library(${name} STATIC $<TARGET_OBJECTS:${name}_objects>)
  target_link_libraries(${name} PUBLIC ${L_HEADER_DEPS} ${L_LINK_DEPS})
  set_target_properties(${name} PROPERTIES EXPORT_NAME ${name}_static)
  set(kinds ${name})
  if(QUORREL_SHARED)
    set(linkdeps "")
    foreach(dep ${L_LINK_DEPS})
      if(TARGET ${dep}_shared)
        set(dep ${dep}_shared)
      endif()
      list(APPEND linkdeps ${dep})
    endforeach()
    add_library(${name}_shared SHARED $<TARGET_OBJECTS:${name}_objects>)
    target_link_libraries(${name}_shared PUBLIC ${L_HEADER_DEPS} PRIVATE ${linkdeps})
    # The version script drops what hidden visibility cannot reach: the
    # linker's own names (_edata, _end, __bss_start) and anything a C++
    # library header declares visible.
    target_link_options(${name}_shared PRIVATE -Wl,--no-undefined
      -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/quorrel.map)
    set_target_properties(${name}_shared PROPERTIES EXPORT_NAME ${name}
      VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
      LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/quorrel.map)
    list(APPEND kinds ${name}_shared)
  endif()
  foreach(kind ${kinds})
    target_include_directories(${kind} PUBLIC
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
    set_target_properties(${kind} PROPERTIES OUTPUT_NAME quorrel-${name})
  endforeach()
  install(TARGETS ${kinds} EXPORT QuorrelTargets-${name}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(EXPORT QuorrelTargets-${name} NAMESPACE Quorrel:: DESTINATION ${QUORREL_CMAKEDIR})
  install(FILES ${L_HEADER} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${name})

  # The static module names the archive by its path (beside the shared library,
  # -l would find that one), with the C++ runtime the engine's code needs, and
  # requires what the archive's code calls: the engine's own as -static modules.
  set(requiresstatic "")
  foreach(module ${L_REQUIRES} ${L_REQUIRES_PRIVATE})
    if(module MATCHES "^quorrel-")
      set(module ${module}-static)
    endif()
    list(APPEND requiresstatic ${module})
  endforeach()
  quorrel_install_pkgconfig(quorrel-${name}-static "${L_DESCRIPTION} (static library)"
    "\${libdir}/libquorrel-${name}.a -lstdc++ -lm" "${requiresstatic}" "")
  if(QUORREL_SHARED)
    quorrel_install_pkgconfig(quorrel-${name} "${L_DESCRIPTION}" -lquorrel-${name} "${L_REQUIRES}" "${L_REQUIRES_PRIVATE}")
  endif()
endfunction()

# quorrel_install_pkgconfig(<module> <description> <libs> <requires> <requires.private>)
# Installs <module>.pc, written when installing, for the prefix installed into.
function(quorrel_install_pkgconfig pcname description libs requires requiresprivate)
  string(REPLACE ";" " " requires "${requires}")
  string(REPLACE ";" " " requiresprivate "${requiresprivate}")
  set(pcfile ${PROJECT_BINARY_DIR}/pkgconfig/${pcname}.pc)
  install(CODE "
    set(QUORREL_PC_NAME [=[${pcname}]=])
    set(QUORREL_PC_DESCRIPTION [=[${description}]=])
    set(QUORREL_PC_LIBS [=[${libs}]=])
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

# quorrel_install_package(): the CMake package of every library made with
# quorrel_add_library; call it once they all are.
function(quorrel_install_package)
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
