# The Debian package (cmake --build <dir> --target package, or cpack in <dir>): one .deb with
# everything `cmake --install` puts under /usr, its library dependencies computed by
# dpkg-shlibdeps.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "${VO_PACKAGE_NAME}")
set(CPACK_PACKAGE_VENDOR "Kestrelby")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${VO_HOME_PAGE}")
set(CPACK_PACKAGE_CONTACT "Kestrelby Packaging <packages@kestrelby.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "save the whole screen as a JPEG or BMP file with one click")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)

set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Liberation Sans stands in for the window's Arial; xdg-open opens the home page.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, xdg-utils")
# The extended description, below the summary line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Vistarel Ombrix is a one-window screenshot utility for X11 desktops. Pick
an output folder, a naming mode (date and time, a prefix plus the first
free number, or a name typed at capture time) and a format (JPEG with a
quality, or BMP), then press \"Capture Now\": the window steps aside, the
whole primary screen is written to the folder, and the window comes back.
Every choice except the JPEG quality is remembered per user.")

# The program and its manual page carry the configured prefix (the data folder, for one), so a
# package for /usr must come from a tree configured for /usr: cpack stops otherwise.
set(CPACK_VO_CONFIGURED_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_BINARY_DIR}/VoPackagingCheck.cmake")
file(CONFIGURE OUTPUT "${CPACK_PROJECT_CONFIG_FILE}" CONTENT [=[
if(NOT CPACK_VO_CONFIGURED_PREFIX STREQUAL CPACK_PACKAGING_INSTALL_PREFIX)
  message(FATAL_ERROR "This build tree is configured for ${CPACK_VO_CONFIGURED_PREFIX}; "
    "configure it with -DCMAKE_INSTALL_PREFIX=${CPACK_PACKAGING_INSTALL_PREFIX} to build the package.")
endif()
]=] @ONLY)

include(CPack)
