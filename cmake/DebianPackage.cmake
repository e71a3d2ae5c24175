# CPack settings for the Debian package: `cpack -G DEB` in the build folder writes
# zevediz_<version>_<architecture>.deb with everything `cmake --install` puts under /usr.
set(CPACK_PACKAGE_NAME zevediz)
set(CPACK_PACKAGE_VENDOR "Tovan Zevediz")
set(CPACK_PACKAGE_CONTACT "Tovan Zevediz developers <maintainers@tovanzevediz.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch picture resizer for the desktop and the command line")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tovanzevediz.example/)
# Dependencies come from the libraries the programs link (dpkg-shlibdeps, from dpkg-dev), and
# libheif, which the programs open when they first read a HEIF file instead of linking it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libheif1 (>= 1.15.1)")
# The synopsis line is CPACK_PACKAGE_DESCRIPTION_SUMMARY; CPack puts it before this text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tovan Zevediz makes smaller copies of many pictures at once: JPEG, GIF,
BMP, PNG, WebP and HEIC/HEIF/AVIF photos. Each file is scaled with a
Lanczos3 filter so that its longer side has the chosen length, encoded
again in its own format (HEIF photos as JPEG) and written under its own
name into the subfolder named resized; the originals are never changed.
.
The package holds the Qt desktop program zevediz, with a file browser, nine
preset sizes, a floating preview and a viewer that plays animated GIFs, and
the command-line tool zevediz-resize for scripts and servers.")

include(CPack)
