# Cross build for Windows x64 with Clang against Debian's mingw-w64 headers,
# libraries and libstdc++ (posix thread model), linked by lld: a second
# compiler for the same target, standing in for Visual Studio's strictness.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(fernwood_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET ${fernwood_triple})
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${fernwood_triple})
set(CMAKE_RC_COMPILER ${fernwood_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${fernwood_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Clang does not recognise Debian's "12-posix" GCC folder as a version, so the
# C++ library of the mingw-w64 GCC is named here.
file(GLOB fernwood_gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/${fernwood_triple}/*-posix)
list(SORT fernwood_gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET fernwood_gcc_dirs 0 fernwood_gcc_dir)
if(NOT IS_DIRECTORY "${fernwood_gcc_dir}/include/c++")
  message(FATAL_ERROR "no mingw-w64 GCC (posix) found under /usr/lib/gcc/${fernwood_triple}")
endif()
set(CMAKE_CXX_FLAGS_INIT "-isystem ${fernwood_gcc_dir}/include/c++ -isystem ${fernwood_gcc_dir}/include/c++/${fernwood_triple} -isystem ${fernwood_gcc_dir}/include/c++/backward")
# -pthread puts the threads library after libstdc++, which needs it in the
# posix model (GCC's driver adds it by itself).
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -pthread -L${fernwood_gcc_dir}")
endforeach()
