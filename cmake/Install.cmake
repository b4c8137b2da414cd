# Installation into any prefix, laid out where freedesktop.org desktops and
# Debian look for things: the programs in bin, the welcome page in
# share/quillbend, the licence of the reader view's extraction library in
# share/doc/quillbend, the desktop entry, AppStream metainfo, hicolor icons
# and gzip-compressed man pages. Included at the end of the top-level
# CMakeLists.txt; refers to the programs by their target names only.
include(GNUInstallDirs)

# One application id names the desktop entry, the metainfo and the icon.
set(QB_APP_ID net.velmorant.Quillbend)
set(QB_ICON_SIZES 16 24 32 48 64 128 256)
set(QB_RES ${CMAKE_SOURCE_DIR}/res)

# Man pages are installed compressed, as Debian ships them; -n keeps the
# archives free of time stamps so a rebuild gives the same bytes.
find_program(QB_GZIP gzip REQUIRED)
set(QB_MAN_PAGES quillbend-cli)
if(TARGET quillbend)
  list(APPEND QB_MAN_PAGES quillbend)
endif()
set(QB_MAN_ARCHIVES)
foreach(page ${QB_MAN_PAGES})
  set(archive ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${archive}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${QB_GZIP} -9 -n -c ${QB_RES}/man/${page}.1 > ${archive}
    DEPENDS ${QB_RES}/man/${page}.1
    VERBATIM)
  list(APPEND QB_MAN_ARCHIVES ${archive})
endforeach()
add_custom_target(quillbend_man_pages ALL DEPENDS ${QB_MAN_ARCHIVES})
install(FILES ${QB_MAN_ARCHIVES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(TARGETS quillbend-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(TARGET quillbend)
  install(TARGETS quillbend RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${QB_RES}/welcome.htm DESTINATION ${CMAKE_INSTALL_DATADIR}/quillbend)
  install(FILES ${QB_RES}/${QB_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${QB_RES}/${QB_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size ${QB_ICON_SIZES})
    install(FILES ${QB_RES}/icons/hicolor/${size}x${size}/apps/${QB_APP_ID}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  install(FILES ${QB_RES}/icons/hicolor/scalable/apps/${QB_APP_ID}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

  # The extraction library built into the window comes with its licence.
  install(FILES ${CMAKE_SOURCE_DIR}/third_party/readability/node_modules/@mozilla/readability/LICENSE.md
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillbend/readability)

  # --version reports the version the package carries.
  target_compile_definitions(quillbend PRIVATE QB_VERSION="${PROJECT_VERSION}")
endif()

# Checks of the installed tree and of the package; they run with every other
# test. A missing tool skips its check (scripts/install-deps.sh installs them).
if(BUILD_TESTING)
  set(QB_INSTALL_TESTS ${CMAKE_SOURCE_DIR}/tests/install)
  set(QB_EXPECTED_FILES ${QB_INSTALL_TESTS}/files-cli.txt)
  set(QB_PROGRAM "")
  if(TARGET quillbend)
    list(APPEND QB_EXPECTED_FILES ${QB_INSTALL_TESTS}/files-gui.txt)
    set(QB_PROGRAM $<TARGET_FILE:quillbend>)
  endif()
  string(JOIN "," QB_EXPECTED_FILES_ARG ${QB_EXPECTED_FILES})
  set(QB_INSTALL_CHECKS files man-pages)
  if(TARGET quillbend)
    list(APPEND QB_INSTALL_CHECKS desktop-entry metainfo program-options)
  endif()
  set(QB_INSTALL_TEST_NAMES)
  foreach(check ${QB_INSTALL_CHECKS})
    add_test(NAME install_${check}
      COMMAND bash ${QB_INSTALL_TESTS}/check-install.sh ${check}
              ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} ${QB_EXPECTED_FILES_ARG}
              $<TARGET_FILE:quillbend-cli> ${QB_PROGRAM})
    list(APPEND QB_INSTALL_TEST_NAMES install_${check})
  endforeach()
  add_test(NAME install_deb_package
    COMMAND bash ${QB_INSTALL_TESTS}/check-package.sh
            ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} ${QB_EXPECTED_FILES_ARG})
  list(APPEND QB_INSTALL_TEST_NAMES install_deb_package)
  set_tests_properties(${QB_INSTALL_TEST_NAMES} PROPERTIES
    LABELS install SKIP_RETURN_CODE 77 TIMEOUT 180)
endif()
