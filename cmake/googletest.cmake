# GoogleTest is built from its sources with each test project, as its
# authors advise: a prebuilt library would have to match this project's
# compiler and flags. KX_GOOGLETEST_DIR is the folder of googletest's own
# CMakeLists.txt; the usual places of a distribution's source package are
# looked at unless it is set.
find_path(KX_GOOGLETEST_DIR src/gtest-all.cc
  PATHS /usr/src/googletest /usr/src/gtest /usr/local/src/googletest /usr/local/src/gtest
  PATH_SUFFIXES googletest
  DOC "Folder of GoogleTest's sources (googletest/ with its CMakeLists.txt)"
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT EXISTS "${KX_GOOGLETEST_DIR}/src/gtest-all.cc")
  message(FATAL_ERROR "GoogleTest's sources were not found (KX_GOOGLETEST_DIR: ${KX_GOOGLETEST_DIR}). "
                      "Install them (Debian: the googletest package, which sh tools/setup.sh installs) "
                      "or set -DKX_GOOGLETEST_DIR to the folder that holds googletest's CMakeLists.txt.")
endif()
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KX_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
