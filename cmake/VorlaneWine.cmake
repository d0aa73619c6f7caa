# Wine as the emulator of the Windows build: a private prefix per build tree, quiet, with a
# file-backed ALSA device, and a fixture that keeps one wineserver alive during a test run.
find_program(VL_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(VL_WINE64 NAMES wine64)
find_program(VL_WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(VL_WINESERVER NAMES wineserver)

if(NOT VL_WINE64 OR NOT VL_WINESERVER)
  message(WARNING "wine64 not found: the Windows tests cannot run")
  return()
endif()

set(VL_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(VL_WINE_HOME ${CMAKE_BINARY_DIR}/wine-home)
set(VL_AUDIO_SINK_DIR ${CMAKE_BINARY_DIR}/audio-sink)
set(VL_WINE_ENV ${CMAKE_BINARY_DIR}/wine-env.sh)
file(MAKE_DIRECTORY ${VL_WINE_HOME} ${VL_AUDIO_SINK_DIR})

configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-env.sh.in ${VL_WINE_ENV} @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/asoundrc.in ${VL_WINE_HOME}/.asoundrc @ONLY)
foreach(script wine-run wine-up wine-down)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${script}.sh.in ${CMAKE_BINARY_DIR}/${script}.sh
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)
endforeach()

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
set(VL_WINE_AVAILABLE TRUE)
