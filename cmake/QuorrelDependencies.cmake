# QuorrelDependencies.cmake -- finds the libraries the engine's libraries build on,
# under the target names they link: em needs PkgConfig::SDL, PkgConfig::VORBIS and
# PkgConfig::SNDFILE; gfx needs PkgConfig::SDL, PkgConfig::SDLIMAGE, OpenGL::GL,
# OpenGL::GLU and X11::X11; io needs nothing. The build includes it, and so does
# the installed QuorrelConfig.cmake, so that a program linking the installed
# libraries gets the same libraries named the same way, and looks for those of the
# components it asked for alone.

find_package(PkgConfig QUIET)

# quorrel_dependencies(<library> <variable>): the dependency targets of an engine library.
function(quorrel_dependencies library variable)
  set(io "")
  set(gfx PkgConfig::SDL PkgConfig::SDLIMAGE OpenGL::GL OpenGL::GLU X11::X11)
  set(em PkgConfig::SDL PkgConfig::VORBIS PkgConfig::SNDFILE)
  set(${variable} ${${library}} PARENT_SCOPE)
endfunction()

# quorrel_find_dependencies(<libraries...>): finds the dependencies of those
# libraries; leaves the names of the targets it could not make in QUORREL_MISSING.
macro(quorrel_find_dependencies)
  set(QUORREL_MISSING "")
  foreach(_quorrel_library ${ARGN})
    quorrel_dependencies(${_quorrel_library} _quorrel_dependencies)
    foreach(_quorrel_dependency ${_quorrel_dependencies})
      if(NOT TARGET ${_quorrel_dependency})
        quorrel_find_dependency(${_quorrel_dependency})
      endif()
      if(NOT TARGET ${_quorrel_dependency} AND NOT _quorrel_dependency IN_LIST QUORREL_MISSING)
        list(APPEND QUORREL_MISSING ${_quorrel_dependency})
      endif()
    endforeach()
  endforeach()
endmacro()

# quorrel_find_dependency(<target>): looks for the package that makes one target
# (the target outlives the function's scope).
function(quorrel_find_dependency target)
  if(target MATCHES "^OpenGL::")
    find_package(OpenGL QUIET COMPONENTS OpenGL)
  elseif(target STREQUAL "X11::X11")
    find_package(X11 QUIET)
  else()
    set(_quorrel_modules_SDL sdl)
    set(_quorrel_modules_SDLIMAGE SDL_image)
    set(_quorrel_modules_VORBIS vorbisfile vorbis ogg)
    set(_quorrel_modules_SNDFILE sndfile)
    string(REPLACE "PkgConfig::" "" _quorrel_prefix ${target})
    if(PKG_CONFIG_FOUND)
      pkg_check_modules(${_quorrel_prefix} QUIET IMPORTED_TARGET ${_quorrel_modules_${_quorrel_prefix}})
    endif()
  endif()
endfunction()
