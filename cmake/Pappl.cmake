# PAPPL 1.3.1 from Debian's source with the project's fixes
# (printerapp/pappl-patches), built once as a static library into a cache
# outside the build tree and shared by every preset that needs the same
# flavour. Defines PkgConfig::PAPPL and PAPPL_INCLUDE_DIRS.
set(VEXO_PAPPL_URL "http://deb.debian.org/debian/pool/main/p/pappl/pappl_1.3.1.orig.tar.gz")
set(VEXO_PAPPL_SHA256 "890fd12aca8e2b2a45d5a89ba5fc74b9ad8d3eeef39d31c6bbf9c563c311223a")
set(VEXO_DEPS_DIR "${PROJECT_SOURCE_DIR}/.deps" CACHE PATH
  "Where the patched PAPPL is built and kept between build trees")

set(_pappl_dir ${PROJECT_SOURCE_DIR}/printerapp/pappl-patches)
set(_pappl_optim "-g -O2 -fno-omit-frame-pointer")
if(VEXO_TSAN)
  # Its own accesses must be seen too, or races between it and us go unseen.
  string(APPEND _pappl_optim " -fsanitize=thread")
endif()

# The cache key: source, patches, build script and flags. A changed patch
# gives a new directory; nothing is rebuilt for a new build tree.
file(GLOB _pappl_patches CONFIGURE_DEPENDS ${_pappl_dir}/*.patch)
list(SORT _pappl_patches)
set(_pappl_key "${VEXO_PAPPL_SHA256}|${_pappl_optim}")
foreach(f IN LISTS _pappl_patches ITEMS ${_pappl_dir}/build)
  file(SHA256 ${f} _h)
  string(APPEND _pappl_key "|${_h}")
endforeach()
string(SHA256 _pappl_key "${_pappl_key}")
string(SUBSTRING ${_pappl_key} 0 16 _pappl_key)
set(_pappl_prefix ${VEXO_DEPS_DIR}/pappl-1.3.1-${_pappl_key})
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${_pappl_patches} ${_pappl_dir}/build)

if(NOT EXISTS ${_pappl_prefix}/lib/libpappl.a)
  message(STATUS "Building patched PAPPL 1.3.1 into ${_pappl_prefix}")
  execute_process(
    COMMAND bash ${_pappl_dir}/build ${VEXO_PAPPL_URL} ${VEXO_PAPPL_SHA256}
      ${VEXO_DEPS_DIR} ${_pappl_prefix} ${_pappl_optim}
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "Building PAPPL failed (scripts/install-deps installs what it needs)")
  endif()
endif()

find_package(PkgConfig REQUIRED)
set(ENV{PKG_CONFIG_PATH} "${_pappl_prefix}/lib/pkgconfig")
# Look again when the key changed. The libraries found are cached too: a
# build tree that once linked Debian's libpappl.so would keep linking it.
unset(__pkg_config_checked_PAPPL CACHE)
get_cmake_property(_cached CACHE_VARIABLES)
list(FILTER _cached INCLUDE REGEX "^pkgcfg_lib_PAPPL_")
foreach(v IN LISTS _cached)
  unset(${v} CACHE)
endforeach()
pkg_check_modules(PAPPL REQUIRED IMPORTED_TARGET GLOBAL pappl)
if(NOT PAPPL_PREFIX STREQUAL _pappl_prefix)
  message(FATAL_ERROR "pkg-config found PAPPL in ${PAPPL_PREFIX}, not the patched one in ${_pappl_prefix}")
endif()
if(NOT pkgcfg_lib_PAPPL_pappl STREQUAL "${_pappl_prefix}/lib/libpappl.a")
  message(FATAL_ERROR "PAPPL would be linked from ${pkgcfg_lib_PAPPL_pappl}, not ${_pappl_prefix}/lib/libpappl.a")
endif()
