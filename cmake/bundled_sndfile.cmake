# libsndfile with libFLAC, libogg, libvorbis and libopus, built from Debian's
# source archives in third_party/ into static libraries under the build folder:
# for the Windows cross build, which has no system libsndfile, and wherever
# TARVELLE_BUNDLED_SNDFILE is on. Defines tarvelle::sndfile (headers and the
# libraries in link order) and sets TARVELLE_HAVE_SNDFILE in the includer's scope.
#
# libsndfile 1.2.0 reads FLAC only when it has all of FLAC, Vorbis and Opus,
# so the build reads FLAC, Ogg Vorbis and Opus as well as its own formats
# (AIFF, CAF, W64 and the rest); MP3 needs mpg123 and LAME, which it lacks.
include_guard(GLOBAL)
include(ExternalProject)

if(POLICY CMP0135)
  # Unpacked files take the time of unpacking, so a new archive rebuilds them all.
  cmake_policy(SET CMP0135 NEW)
endif()

get_filename_component(_tarvelle_archives ${CMAKE_CURRENT_LIST_DIR}/../third_party ABSOLUTE)
set(_tarvelle_prefix ${CMAKE_BINARY_DIR}/bundled_sndfile)
set(_tarvelle_lib ${_tarvelle_prefix}/lib)
set(_tarvelle_include ${_tarvelle_prefix}/include)

function(_tarvelle_static_library variable name)
  set(${variable} ${_tarvelle_lib}/${CMAKE_STATIC_LIBRARY_PREFIX}${name}${CMAKE_STATIC_LIBRARY_SUFFIX}
      PARENT_SCOPE)
endfunction()
foreach(name ogg FLAC vorbis vorbisenc vorbisfile opus sndfile)
  _tarvelle_static_library(_tarvelle_${name} ${name})
endforeach()

set(_tarvelle_toolchain "")
if(CMAKE_TOOLCHAIN_FILE)
  # A relative toolchain path names a file in the build or else the source folder.
  get_filename_component(_tarvelle_toolchain_file ${CMAKE_TOOLCHAIN_FILE} ABSOLUTE BASE_DIR ${CMAKE_BINARY_DIR})
  if(NOT EXISTS ${_tarvelle_toolchain_file})
    get_filename_component(_tarvelle_toolchain_file ${CMAKE_TOOLCHAIN_FILE} ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
  endif()
  set(_tarvelle_toolchain -DCMAKE_TOOLCHAIN_FILE=${_tarvelle_toolchain_file})
endif()

# Static, optimised, without programs, tests, documentation or package files.
# The dependencies' paths are given outright, so that no build finds the
# host's copies through pkg-config or the system folders.
set(_tarvelle_common_args
  ${_tarvelle_toolchain}
  -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}
  -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
  -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX=${_tarvelle_prefix}
  -DCMAKE_INSTALL_LIBDIR=lib
  -DCMAKE_INSTALL_INCLUDEDIR=include
  -DCMAKE_POSITION_INDEPENDENT_CODE=ON
  -DBUILD_SHARED_LIBS=OFF
  -DBUILD_TESTING=OFF
)
set(_tarvelle_ogg_args -DOGG_INCLUDE_DIR=${_tarvelle_include} -DOGG_LIBRARY=${_tarvelle_ogg})
# The sub-builds' configure output goes to their logs, shown when one fails.
set(_tarvelle_logs LOG_CONFIGURE ON LOG_OUTPUT_ON_FAILURE ON)

ExternalProject_Add(tarvelle_ogg_build
  URL ${_tarvelle_archives}/libogg_1.3.5.orig.tar.xz
  URL_HASH SHA256=c4d91be36fc8e54deae7575241e03f4211eb102afb3fc0775fbbc1b740016705
  PREFIX ${_tarvelle_prefix}/ogg
  ${_tarvelle_logs}
  CMAKE_ARGS ${_tarvelle_common_args} -DINSTALL_DOCS=OFF -DINSTALL_PKG_CONFIG_MODULE=OFF
    -DINSTALL_CMAKE_PACKAGE_MODULE=OFF
  BUILD_BYPRODUCTS ${_tarvelle_ogg}
)

# make's own command keeps the parent's -j.
if(CMAKE_GENERATOR MATCHES "Makefiles")
  set(_tarvelle_flac_build $(MAKE) FLAC)
else()
  set(_tarvelle_flac_build ${CMAKE_COMMAND} --build <BINARY_DIR> --target FLAC)
endif()
ExternalProject_Add(tarvelle_flac_build
  URL ${_tarvelle_archives}/flac_1.4.2+ds.orig.tar.xz
  URL_HASH SHA256=47274ac8fcb1f0e6caa91d29f943925d7a40c0a3f6357c3275773bdb1ee46638
  PREFIX ${_tarvelle_prefix}/flac
  DEPENDS tarvelle_ogg_build
  ${_tarvelle_logs}
  CMAKE_ARGS ${_tarvelle_common_args} ${_tarvelle_ogg_args} -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF
    -DBUILD_DOCS=OFF -DINSTALL_MANPAGES=OFF -DINSTALL_PKGCONFIG_MODULES=OFF -DINSTALL_CMAKE_CONFIG_MODULE=OFF
  # The library alone: the source tree's benchmark is always part of "all".
  BUILD_COMMAND ${_tarvelle_flac_build}
  INSTALL_COMMAND ${CMAKE_COMMAND} --install <BINARY_DIR>
  BUILD_BYPRODUCTS ${_tarvelle_FLAC}
)

ExternalProject_Add(tarvelle_vorbis_build
  URL ${_tarvelle_archives}/libvorbis_1.3.7.orig.tar.gz
  URL_HASH SHA256=0e982409a9c3fc82ee06e08205b1355e5c6aa4c36bca58146ef399621b0ce5ab
  PREFIX ${_tarvelle_prefix}/vorbis
  DEPENDS tarvelle_ogg_build
  ${_tarvelle_logs}
  CMAKE_ARGS ${_tarvelle_common_args} ${_tarvelle_ogg_args} -DINSTALL_CMAKE_PACKAGE_MODULE=OFF
  BUILD_BYPRODUCTS ${_tarvelle_vorbis} ${_tarvelle_vorbisenc} ${_tarvelle_vorbisfile}
)

ExternalProject_Add(tarvelle_opus_build
  URL ${_tarvelle_archives}/opus_1.3.1.orig.tar.gz
  URL_HASH SHA256=65b58e1e25b2a114157014736a3d9dfeaad8d41be1c8179866f144a2fb44ff9d
  PREFIX ${_tarvelle_prefix}/opus
  ${_tarvelle_logs}
  # The release archive lacks a file its CMakeLists includes, which only picks
  # a build type when none is given; one is.
  PATCH_COMMAND ${CMAKE_COMMAND} -E touch opus_buildtype.cmake
  CMAKE_ARGS ${_tarvelle_common_args} -DOPUS_BUILD_PROGRAMS=OFF -DOPUS_INSTALL_PKG_CONFIG_MODULE=OFF
    -DOPUS_INSTALL_CMAKE_CONFIG_MODULE=OFF
  BUILD_BYPRODUCTS ${_tarvelle_opus}
)

# Debian's security fixes for 1.2.0 (CVE-2022-33065, CVE-2024-50612), taken
# from its packaging archive as they are.
find_program(TARVELLE_PATCH patch)
if(NOT TARVELLE_PATCH)
  message(FATAL_ERROR "patch not found (Debian: patch): it applies Debian's security fixes to libsndfile")
endif()
set(_tarvelle_debian ${_tarvelle_archives}/libsndfile_1.2.0-1+deb12u1.debian.tar.xz)
# libsndfile turns its FLAC, Vorbis and Opus support off without a word when
# it misses one of them; this build then fails instead.
set(_tarvelle_sndfile_check ${_tarvelle_prefix}/check_sndfile_codecs.cmake)
file(WRITE ${_tarvelle_sndfile_check} [[
file(STRINGS ${CONFIG_HEADER} found REGEX "^#define HAVE_EXTERNAL_XIPH_LIBS 1$")
if(NOT found)
  message(FATAL_ERROR "libsndfile was configured without FLAC, Vorbis and Opus")
endif()
]])

ExternalProject_Add(tarvelle_sndfile_build
  URL ${_tarvelle_archives}/libsndfile_1.2.0.orig.tar.gz
  URL_HASH SHA256=62dc4e2bcd45f6f0e89cbc3522cc90eb174dca0eef0a0d19ead289833b390cd7
  PREFIX ${_tarvelle_prefix}/sndfile
  DEPENDS tarvelle_ogg_build tarvelle_flac_build tarvelle_vorbis_build tarvelle_opus_build
  ${_tarvelle_logs}
  PATCH_COMMAND ${CMAKE_COMMAND} -E tar xf ${_tarvelle_debian}
    COMMAND ${TARVELLE_PATCH} -p1 -i debian/patches/CVE-2022-33065.patch
    COMMAND ${TARVELLE_PATCH} -p1 -i debian/patches/CVE-2024-50612.patch
  CMAKE_ARGS ${_tarvelle_common_args} ${_tarvelle_ogg_args}
    # Static libFLAC's headers must not declare its functions as DLL imports.
    -DCMAKE_C_FLAGS=-DFLAC__NO_DLL
    -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DENABLE_CPACK=OFF -DENABLE_PACKAGE_CONFIG=OFF
    -DINSTALL_PKGCONFIG_MODULE=OFF -DINSTALL_MANPAGES=OFF -DENABLE_EXTERNAL_LIBS=ON -DENABLE_MPEG=OFF
    -DENABLE_EXPERIMENTAL=OFF -DBUILD_REGTEST=OFF
    -DFLAC_INCLUDE_DIR=${_tarvelle_include} -DFLAC_LIBRARY=${_tarvelle_FLAC}
    -DVorbis_Vorbis_INCLUDE_DIR=${_tarvelle_include} -DVorbis_Vorbis_LIBRARY=${_tarvelle_vorbis}
    -DVorbis_Enc_INCLUDE_DIR=${_tarvelle_include} -DVorbis_Enc_LIBRARY=${_tarvelle_vorbisenc}
    -DVorbis_File_INCLUDE_DIR=${_tarvelle_include} -DVorbis_File_LIBRARY=${_tarvelle_vorbisfile}
    -DOPUS_INCLUDE_DIR=${_tarvelle_include} -DOPUS_LIBRARY=${_tarvelle_opus}
  BUILD_BYPRODUCTS ${_tarvelle_sndfile}
)
ExternalProject_Add_Step(tarvelle_sndfile_build check_codecs
  COMMAND ${CMAKE_COMMAND} -DCONFIG_HEADER=<BINARY_DIR>/src/config.h -P ${_tarvelle_sndfile_check}
  DEPENDEES configure
  DEPENDERS build
)

add_library(tarvelle_sndfile INTERFACE)
add_dependencies(tarvelle_sndfile tarvelle_sndfile_build)
target_include_directories(tarvelle_sndfile SYSTEM INTERFACE ${_tarvelle_include})
target_link_libraries(tarvelle_sndfile INTERFACE
  ${_tarvelle_sndfile} ${_tarvelle_FLAC} ${_tarvelle_vorbisenc} ${_tarvelle_vorbis} ${_tarvelle_opus}
  ${_tarvelle_ogg})
if(MINGW)
  # libFLAC and libopus are built with the stack protector, whose MinGW runtime is libssp.
  target_link_libraries(tarvelle_sndfile INTERFACE ssp)
elseif(UNIX)
  target_link_libraries(tarvelle_sndfile INTERFACE m)
endif()
add_library(tarvelle::sndfile ALIAS tarvelle_sndfile)
set(TARVELLE_HAVE_SNDFILE ON)
