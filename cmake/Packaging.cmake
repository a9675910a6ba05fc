# The Debian package: scripts/package.sh configures with CMAKE_INSTALL_PREFIX=/usr and runs cpack.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "kt6200")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Varnel Software")
set(CPACK_PACKAGE_CONTACT "Varnel Software <support@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Front end of KT6200 UFS programmers, with an emulated device")
set(CPACK_PACKAGE_DESCRIPTION "The desktop program kt6200, the script runner kt6200-script, the \
production program kt6200-prog and the emulator tool kt62emu, over the access library libapiKT6200 \
(header and pkg-config file included). Without a programmer the library drives an emulated UFS device.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The desktop program's window needs Qt's platform plugins, which no library names.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Our own library is in the package: dpkg-shlibdeps finds it in the build tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)
