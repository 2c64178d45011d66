# Source lists, by folder. New files are picked up at the next build.
macro(velmora_glob var)
  file(GLOB ${var} CONFIGURE_DEPENDS ${ARGN})
endmacro()

velmora_glob(VELMORA_HOST_SHARED_SOURCES ${CMAKE_SOURCE_DIR}/host/shared/*.cpp)
velmora_glob(VELMORA_SDK_SOURCES ${CMAKE_SOURCE_DIR}/sdk/*.cpp ${CMAKE_SOURCE_DIR}/sdk/zof/*.cpp)
velmora_glob(VELMORA_SRC_SOURCES
  ${CMAKE_SOURCE_DIR}/src/plugin/*.cpp
  ${CMAKE_SOURCE_DIR}/src/server/*.cpp
  ${CMAKE_SOURCE_DIR}/src/engine/*.cpp)
# src/ui/ is the Windows window, but for the listener parsing: it has no
# window, and both builds compile it.
set(VELMORA_UI_PORTABLE_SOURCES ${CMAKE_SOURCE_DIR}/src/ui/listener_xml.cpp)
list(APPEND VELMORA_SRC_SOURCES ${VELMORA_UI_PORTABLE_SOURCES})
velmora_glob(VELMORA_PLATFORM_SOURCES ${CMAKE_SOURCE_DIR}/platform/common/*.cpp)
set(VELMORA_DLL_EXTRA_SOURCES "")
if(VELMORA_WINDOWS)
  velmora_glob(_ui ${CMAKE_SOURCE_DIR}/src/ui/*.cpp)
  list(REMOVE_ITEM _ui ${VELMORA_UI_PORTABLE_SOURCES})
  velmora_glob(_plat ${CMAKE_SOURCE_DIR}/platform/win32/*.cpp)
  velmora_glob(VELMORA_DLL_EXTRA_SOURCES ${CMAKE_SOURCE_DIR}/res/*.rc)
  list(APPEND VELMORA_SRC_SOURCES ${_ui})
  list(APPEND VELMORA_PLATFORM_SOURCES ${_plat})
else()
  velmora_glob(_plat ${CMAKE_SOURCE_DIR}/platform/posix/*.cpp)
  list(APPEND VELMORA_PLATFORM_SOURCES ${_plat})
  # src/driver/ is the front end of the Linux build, which has no window;
  # on Windows the main window does its job.
  velmora_glob(_driver ${CMAKE_SOURCE_DIR}/src/driver/*.cpp)
  list(APPEND VELMORA_SRC_SOURCES ${_driver})
endif()

# The GCC runtime DLLs go beside every Windows binary.
function(velmora_copy_mingw_runtime)
  if(NOT VELMORA_WINDOWS)
    return()
  endif()
  file(MAKE_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  foreach(dll libstdc++-6.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
      OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT EXISTS "${path}")
      find_file(path_${dll} ${dll} PATHS /usr/i686-w64-mingw32/lib NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
      set(path ${path_${dll}})
    endif()
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "mingw runtime ${dll} not found")
    endif()
    file(COPY ${path} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  endforeach()
endfunction()
velmora_copy_mingw_runtime()

# The cross-built lame.exe (scripts/build-win-deps.sh) goes where an
# installation has it and the built-in "lame" preset looks for it: in
# encoders\ beside the player (bin/encoders/lame.exe). Settings that name
# no encoder, and the Add button without stored presets, start the bare
# "lame.exe", which Windows looks for first in the player's own folder:
# a copy goes there too (bin/lame.exe).
if(VELMORA_WINDOWS AND EXISTS ${VELMORA_WIN_DEPS}/prefix/bin/lame.exe)
  foreach(folder ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/encoders ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    file(COPY ${VELMORA_WIN_DEPS}/prefix/bin/lame.exe DESTINATION ${folder})
  endforeach()
endif()
