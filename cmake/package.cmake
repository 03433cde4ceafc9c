# Installing on the robot: `cmake --install <tree>`, or the Debian package that
# `cpack` makes in the tree (tavi_<version>_<arch>.deb, i386 from the 32-bit
# tree, amd64 from a 64-bit one), installed with `apt install ./tavi_....deb`.
#
# What lands where:
#   bin/                      benchtest, tavion_patrol, tavi_demo, drivehalt,
#                             and tavi-board where cairo was found
#   /var/lib/tavi/            the programs' working directory: they run
#                             "./drivehalt" and write "./img/..." relative to
#                             it; img/ and a drivehalt link are there
#   /etc/security/limits.d/tavi.conf
#                             members of group tavi get the real-time
#                             priority of the workers and may lock memory
#   udev rule                 group tavi owns the drive's device nodes
# The package's postinst creates the group; README "On the robot" says the rest.
include(GNUInstallDirs)

install(TARGETS benchtest tavion_patrol tavi_demo drivehalt
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(TAVI_BOARD_DEPENDS "")
if(TARGET tavi-board)
  install(TARGETS tavi-board RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(TAVI_BOARD_DEPENDS ", libcairo2")
endif()

set(TAVI_WORK_DIR "/var/lib/tavi" CACHE PATH "The programs' working directory on the robot")
install(DIRECTORY DESTINATION ${TAVI_WORK_DIR}/img)
# The link points at the installed utility, wherever the prefix put it at
# install time (cpack installs under /usr, a plain install under its prefix).
install(CODE "
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}${TAVI_WORK_DIR}\")
  file(CREATE_LINK \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/drivehalt\"
       \"\$ENV{DESTDIR}${TAVI_WORK_DIR}/drivehalt\" SYMBOLIC)
")
install(FILES ${TAVI_ROOT}/packaging/limits.conf DESTINATION /etc/security/limits.d RENAME tavi.conf)
install(FILES ${TAVI_ROOT}/packaging/tavi.rules DESTINATION /lib/udev/rules.d RENAME 60-tavi.rules)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavi)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_CONTACT "tavi robot team <tavi@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control software of the tavi two-wheeled robot")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
else()
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
endif()
# Named by hand: dpkg-shlibdeps would look up the libraries in the build
# machine's package database, which knows no i386 OpenCV. scp and uvccapture
# are the programs the file exchange and the camera run.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.36), libstdc++6 (>= 12), libgcc-s1, libopencv-core406, libopencv-imgproc406, libopencv-imgcodecs406, openssh-client, uvccapture, passwd${TAVI_BOARD_DEPENDS}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${TAVI_ROOT}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
