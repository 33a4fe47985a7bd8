# 32-bit Windows with the mingw-w64 i686 cross compiler; programs run under
# Wine. The posix-thread variant is used because GoogleTest needs std::mutex;
# every program and plug-in links its runtimes statically (see Settings.cmake),
# so no libwinpthread, libgcc or libstdc++ DLL is needed at run time.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(HOUND_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${HOUND_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HOUND_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${HOUND_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${HOUND_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tool for reading export and import tables of the built DLLs.
set(HOUND_OBJDUMP ${HOUND_MINGW_PREFIX}-objdump)

# GoogleTest is built from source with this compiler.
if(NOT DEFINED HOUND_GTEST_SOURCE_DIR)
  set(HOUND_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
endif()

# Wine runs the test programs in a prefix of the build's own, quietly, as a
# 32-bit Windows without the .NET and HTML engines (which would ask to be
# downloaded). The prefix is made once by the wine_prefix test fixture. The
# locale is fixed, so that the ANSI code page is 1252 wherever the tests run.
set(HOUND_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(HOUND_WINE_ENV
  WINEDEBUG=-all WINEARCH=win32 WINEPREFIX=${HOUND_WINEPREFIX}
  WINEDLLOVERRIDES=mscoree,mshtml= LC_ALL=C.UTF-8)
set(CMAKE_CROSSCOMPILING_EMULATOR env ${HOUND_WINE_ENV} wine)
