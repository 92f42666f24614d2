# QuorrelPkgConfig.cmake -- run by `cmake --install` for each pkg-config module:
# writes QUORREL_PC_FILE from the template with the prefix being installed into,
# which `--prefix` may have changed since the build was configured. The other
# QUORREL_PC_* values come from quorrel_install_pkgconfig.
set(QUORREL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
foreach(dir LIBDIR INCLUDEDIR)
  if(NOT IS_ABSOLUTE "${QUORREL_PC_${dir}}")
    set(QUORREL_PC_${dir} "\${prefix}/${QUORREL_PC_${dir}}")
  endif()
endforeach()
configure_file("${QUORREL_PC_TEMPLATE}" "${QUORREL_PC_FILE}" @ONLY)
