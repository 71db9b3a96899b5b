# libsndfile, for the inputs that are not WAV: built from our packed sources
# (TARVELLE_BUNDLED_SNDFILE, the Windows cross build) or the system's, found by
# pkg-config. Either way the target is tarvelle::sndfile; without one the
# program reads WAV only. Sets TARVELLE_SNDFILE_FOUND.
# A cross build for Windows has no system libsndfile to find.
set(tarvelle_bundled_default OFF)
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(tarvelle_bundled_default ON)
endif()
option(TARVELLE_BUNDLED_SNDFILE "Build libsndfile from third_party/ instead of using the system's"
       ${tarvelle_bundled_default})
option(TARVELLE_WITH_SNDFILE "Read AIFF, CAF, W64, FLAC, Ogg, Opus and MP3 through libsndfile where it is found" ON)

set(TARVELLE_SNDFILE_FOUND OFF)
if(TARVELLE_BUNDLED_SNDFILE)
  include(${CMAKE_CURRENT_LIST_DIR}/bundled_sndfile.cmake)
elseif(TARVELLE_WITH_SNDFILE AND NOT CMAKE_CROSSCOMPILING)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(TARVELLE_SYSTEM_SNDFILE QUIET IMPORTED_TARGET sndfile)
  endif()
  if(TARVELLE_SYSTEM_SNDFILE_FOUND AND NOT TARGET tarvelle::sndfile)
    add_library(tarvelle::sndfile INTERFACE IMPORTED)
    target_link_libraries(tarvelle::sndfile INTERFACE PkgConfig::TARVELLE_SYSTEM_SNDFILE)
  endif()
endif()

if(TARGET tarvelle::sndfile)
  set(TARVELLE_SNDFILE_FOUND ON)
  message(STATUS "libsndfile: found; batch mode reads AIFF, CAF, W64, FLAC, Ogg, Opus and MP3 as well as WAV")
else()
  message(STATUS "libsndfile: not found (Debian: libsndfile1-dev); batch mode reads WAV only")
endif()
