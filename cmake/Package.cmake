# The Debian package: `cpack -G DEB` in the build folder (or `make package`
# at the top) makes quillbend_VERSION_ARCH.deb from the installed tree of
# cmake/Install.cmake, with the library dependencies found by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillbend)
set(CPACK_PACKAGE_VENDOR Velmorant)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop reader for RSS, Atom and JSON feeds")
set(CPACK_PACKAGE_DESCRIPTION
  "Quillbend subscribes to web feeds (RSS, Atom, JSON Feed) by their address, keeps
them in a tree of groups, downloads each when its refresh interval has elapsed
and keeps every article in one data file. Articles that were deleted do not
come back. quillbend-cli does the same work without a window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Velmorant <quillbend@quillbend.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://quillbend.example/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform plugins at run time, so dpkg-shlibdeps cannot see
# them; the X11 one comes with the GUI library, the others are recommended.
if(TARGET quillbend)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins, qt6-wayland")
endif()
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
