# 32-bit x86 build on a 64-bit Debian host (g++-multilib).
#
# The robot's board is i386, so this tree checks the record sizes, open flags
# and printf formats on the ABI the programs actually ship on. Debian has no
# i386 OpenCV for a multilib host: configure with -DTAVI_WITH_VISION=OFF.
#
#   cmake -S . -B build-m32 -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake -DTAVI_WITH_VISION=OFF
set(CMAKE_SYSTEM_PROCESSOR i686)

# 64-bit file offsets and inode numbers: a 32-bit readdir or stat otherwise
# fails with EOVERFLOW on a file system whose values do not fit 32 bits (ext4's
# directory hashes do whenever the process is not a native 32-bit one, as under
# the user-mode emulator the test gate may use).
set(CMAKE_C_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# Never pick up a 64-bit library by accident: the host's x86_64 folders hold
# the only prebuilt GoogleTest, and linking it with -m32 fails late and noisily.
list(APPEND CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu
     /usr/lib/x86_64-linux-gnu/cmake/GTest)

# GoogleTest is compiled from Debian's sources inside this tree (see the file).
set(CMAKE_PROJECT_tavi_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/gtest_from_source.cmake)
