# Cross-compiling for 32-bit x86 Windows with Debian's MinGW-w64 toolchain
# (posix thread model, for std::thread and std::mutex). The programs are
# linked statically (see the top CMakeLists.txt), so they need no MinGW DLL
# beside them. Test programs run under Wine (cmake/wine-run.sh) in a prefix
# of the build folder's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(KARVELTA_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KARVELTA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KARVELTA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KARVELTA_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${KARVELTA_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KARVELTA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs and the tests' helper programs run through Wine with the
# prefix inside the build folder, never the user's own.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wine-prefix")
# Test discovery happens when the tests run, so that building needs no Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
