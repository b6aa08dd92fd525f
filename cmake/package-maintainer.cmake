# SPDX-License-Identifier: GPL-2.0-or-later
# Read by cpack before it installs into the package: the maintainer is
# required (a package without a real address is refused), and the Debian
# changelog is written with it.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
if(NOT CPACK_PACKAGE_CONTACT MATCHES "^[^<>]*[^ <>][^<>]* <[^<>@ ]+@[^<>@ ]+>$")
  message(FATAL_ERROR
    "wx118: the package needs its maintainer as \"Name <address>\", got \"${CPACK_PACKAGE_CONTACT}\".\n"
    "Configure with -DWX118_MAINTAINER=\"Your Name <you@your.domain>\" (or set DEBFULLNAME and DEBEMAIL "
    "before configuring), or give it to this run: cpack -D CPACK_PACKAGE_CONTACT=\"Your Name <you@your.domain>\"")
endif()
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(WX118_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
configure_file(${CPACK_WX118_SOURCE_DIR}/contrib/package/changelog.in ${CPACK_WX118_BINARY_DIR}/package/changelog @ONLY)
execute_process(COMMAND gzip -9nf ${CPACK_WX118_BINARY_DIR}/package/changelog RESULT_VARIABLE gzip_status)
if(NOT gzip_status EQUAL 0)
  message(FATAL_ERROR "wx118: gzip of the changelog failed")
endif()
