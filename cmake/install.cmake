# What `cmake --install` puts under the prefix: the demo and tex3df, the
# library (in lib/<multiarch triplet> on Debian, see CMakeLists.txt) and its
# helper program, its header, a pkg-config file, a CMake package and the
# copyright file; and the Debian package made from the same rules (`cmake
# --build --preset release --target package`), stripped, with its debug
# information in a -dbgsym package beside it.
include(CMakePackageConfigHelpers)

# What is installed carries its debug information, which the package keeps
# apart from the programs and the library.
foreach(target softboard_core console_objects texfile_objects quote_objects signals_objects demo transdemo
               tex3df_lib tex3df softboard_probe)
  target_compile_options(${target} PRIVATE -g)
endforeach()

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/softboard)

# The demo finds the library beside it under any prefix.
set_target_properties(transdemo PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
install(TARGETS transdemo tex3df RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/tex.3df
        DESTINATION ${CMAKE_INSTALL_DATADIR}/transdemo)
install(TARGETS softboard EXPORT softboardTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The library's helper, found from the library's own place (see
# platform/board/CMakeLists.txt): the same relative place under any prefix.
install(TARGETS softboard_probe RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/softboard)
install(FILES ${PROJECT_SOURCE_DIR}/graphics/grlib.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/softboard)
install(FILES cmake/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(EXPORT softboardTargets NAMESPACE softboard:: DESTINATION ${package_dir})
configure_package_config_file(cmake/softboardConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/softboardConfig.cmake
                              INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/softboardConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/softboardConfig.cmake
              ${CMAKE_BINARY_DIR}/softboardConfigVersion.cmake
        DESTINATION ${package_dir})

# The pkg-config file names its prefix from where it lies, so the tree can be
# installed under any prefix (cmake --install --prefix) and still be found.
file(RELATIVE_PATH PC_PREFIX_FROM_PCFILEDIR ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" PC_PREFIX_FROM_PCFILEDIR "${PC_PREFIX_FROM_PCFILEDIR}")
# A static library brings the libraries it was built with (pkg-config
# --static); a shared one needs nothing more of its user.
if(BUILD_SHARED_LIBS)
  set(PC_REQUIRES_PRIVATE "")
  set(PC_LIBS_PRIVATE "")
else()
  set(PC_REQUIRES_PRIVATE "sdl2 libpng libhwy chafa zlib")
  set(PC_LIBS_PRIVATE "-lstdc++ -lm -pthread")
endif()
configure_file(cmake/softboard.pc.in ${CMAKE_BINARY_DIR}/softboard.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/softboard.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The Debian package: everything above under /usr, its dependencies worked
# out from the libraries the programs link (dpkg-shlibdeps). Its programs
# and library are stripped; their debug information goes by build-id into
# transdemo-dbgsym_<version>_<arch>.ddeb, beside the .deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME transdemo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Translucency demo of a 1990s 3D board, with the software board it runs on")
set(CPACK_PACKAGE_CONTACT "transdemo maintainers <transdemo@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
include(CPack)
