# QuorrelDependencies.cmake -- finds the libraries the engine builds on under the
# target names its libraries link: PkgConfig::SDL, PkgConfig::SDLIMAGE,
# PkgConfig::VORBIS, PkgConfig::SNDFILE, OpenGL::GL, OpenGL::GLU and X11::X11. The build includes it,
# and so does the installed QuorrelConfig.cmake, so that a program linking the
# installed static libraries gets the same libraries named the same way.
# Leaves the names of the targets it could not make in QUORREL_MISSING.
find_package(PkgConfig QUIET)
find_package(OpenGL QUIET COMPONENTS OpenGL)
find_package(X11 QUIET)
if(PKG_CONFIG_FOUND)
  if(NOT TARGET PkgConfig::SDL)
    pkg_check_modules(SDL IMPORTED_TARGET sdl)
  endif()
  if(NOT TARGET PkgConfig::SDLIMAGE)
    pkg_check_modules(SDLIMAGE IMPORTED_TARGET SDL_image)
  endif()
  if(NOT TARGET PkgConfig::VORBIS)
    pkg_check_modules(VORBIS IMPORTED_TARGET vorbisfile vorbis ogg)
  endif()
  if(NOT TARGET PkgConfig::SNDFILE)
    pkg_check_modules(SNDFILE IMPORTED_TARGET sndfile)
  endif()
endif()

set(QUORREL_MISSING "")
foreach(_quorrel_dependency PkgConfig::SDL PkgConfig::SDLIMAGE PkgConfig::VORBIS PkgConfig::SNDFILE OpenGL::GL OpenGL::GLU X11::X11)
  if(NOT TARGET ${_quorrel_dependency})
    list(APPEND QUORREL_MISSING ${_quorrel_dependency})
  endif()
endforeach()
