# The robot's build: 32-bit x86 (i386), compiled on a 64-bit Debian host with
# g++-multilib.
#
# With TAVI_I386_ROOT naming a Debian i386 root (scripts/i386-root makes one),
# the whole project builds: the C library and OpenCV come from that root as the
# sysroot, and every test runs inside it (scripts/in-i386-root), so the suite
# checks the same binaries and libraries the robot runs:
#
#   cmake -S . -B build-m32 -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake \
#         -DTAVI_I386_ROOT="$(scripts/i386-root)"
#
# Without a root only the parts that do not need OpenCV build, on the host's
# multilib libraries (-DTAVI_WITH_VISION=OFF), and the tests run on the host.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

# Floating point: GCC's i386 default is x87 arithmetic, which keeps float
# intermediates in 80-bit registers and rounds them to 32 bits only when it
# happens to spill them. The worked figures (distances, speeds, the speed-loop
# table, the run statistics) are float computations whose last digit depends
# on rounding every step to 32 bits, as the 64-bit build does. SSE2 arithmetic
# rounds each operation exactly like that, so these flags are what keeps the
# robot's figures identical to the build machine's. The board must have SSE2
# (every x86 since the Pentium 4 and the Atom); GCC 12 offers no other way
# for C++ (-fexcess-precision=standard is C-only before GCC 13).
#
# 64-bit file offsets and inode numbers: a 32-bit readdir or stat otherwise
# fails with EOVERFLOW on a file system whose values do not fit 32 bits (ext4's
# directory hashes do whenever the process is not a native 32-bit one, as under
# the user-mode emulator the test gate may use).
set(TAVI_I386_FLAGS "-m32 -msse2 -mfpmath=sse -D_FILE_OFFSET_BITS=64")
set(CMAKE_C_FLAGS_INIT "${TAVI_I386_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${TAVI_I386_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# GoogleTest is compiled from Debian's sources inside this tree (see the file).
set(CMAKE_PROJECT_tavi_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/gtest_from_source.cmake)

# The toolchain file is read again for every try-compile; the root travels
# with it through the environment.
if(TAVI_I386_ROOT)
  set(ENV{TAVI_I386_ROOT} "${TAVI_I386_ROOT}")
elseif(DEFINED ENV{TAVI_I386_ROOT})
  set(TAVI_I386_ROOT "$ENV{TAVI_I386_ROOT}")
endif()
set(TAVI_I386_ROOT "${TAVI_I386_ROOT}" CACHE PATH "Debian i386 root used as sysroot and test environment")

if(TAVI_I386_ROOT)
  if(NOT EXISTS "${TAVI_I386_ROOT}/usr/lib/i386-linux-gnu/cmake/opencv4/OpenCVConfig.cmake")
    message(FATAL_ERROR "${TAVI_I386_ROOT} is not an i386 root with OpenCV (make one with scripts/i386-root)")
  endif()
  # The C library, OpenCV and Google Benchmark from the root; the C++ library
  # is the compiler's own 32-bit one, the same GCC 12 release as the root's.
  set(CMAKE_SYSROOT "${TAVI_I386_ROOT}")
  set(CMAKE_FIND_ROOT_PATH "${TAVI_I386_ROOT}")
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
  set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
  # OpenCV's own dependencies are resolved by the linker inside the root too.
  # BLAS and LAPACK are reached through absolute /etc/alternatives links,
  # which point outside the root: their real folders are named directly.
  set(_tavi_lib "${TAVI_I386_ROOT}/usr/lib/i386-linux-gnu")
  set(_tavi_link_dirs "${_tavi_lib}:${TAVI_I386_ROOT}/lib/i386-linux-gnu:${_tavi_lib}/blas:${_tavi_lib}/lapack")
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,-rpath-link,${_tavi_link_dirs}")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -Wl,-rpath-link,${_tavi_link_dirs}")
  # Test discovery and every test run inside the root, where the programs
  # find their libraries and the real scp, sshd and uvccapture.
  get_filename_component(_tavi_repo "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${_tavi_repo}/scripts/in-i386-root;${TAVI_I386_ROOT}")
else()
  # Never pick up a 64-bit library by accident: the host's x86_64 folders hold
  # the only prebuilt GoogleTest, and linking it with -m32 fails late and noisily.
  list(APPEND CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu
       /usr/lib/x86_64-linux-gnu/cmake/GTest)
endif()
