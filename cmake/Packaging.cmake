# The Debian package: what `cmake --install` installs, below /usr. `cpack` in a Release build
# directory writes tessaly_VERSION_ARCH.deb and SHA256SUMS beside it.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VERSION ${TESSALY_RELEASE})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Tessaly developers <tessaly@users.noreply.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# What the programs load is read from the programs themselves (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "back up the EEPROM of set-top boxes over a serial port")
# CPack indents these lines and marks the empty one as Debian wants.
set(CPACK_PACKAGE_DESCRIPTION "Tessaly reads the 1024-byte EEPROM of a set-top box in its host mode over a
serial port (USB adapters included) and saves it as EEPROM.bin, checking the
box's checksum and never replacing a good earlier backup with a bad one.

The package holds the window program (tessaly), the command-line dump for
scripts and workshop benches (tessaly-dump: several boxes at once, verified
reads, JSON results) and a simulated box on a pseudo-terminal
(tessaly-stb-sim) to try Tessaly without hardware.")
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/Checksums.cmake)
include(CPack)
