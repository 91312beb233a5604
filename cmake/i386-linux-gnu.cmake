# Builds for the 32-bit target on a 64-bit Debian host with multiarch i386 libraries
# (dpkg --add-architecture i386; g++-multilib, libxerces-c-dev:i386, libgtest-dev:i386):
#   cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux-gnu.cmake
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(PKG_CONFIG_EXECUTABLE i686-linux-gnu-pkg-config CACHE FILEPATH "")
