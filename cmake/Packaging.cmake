# Debian packages (cpack -G DEB), one per component:
#   qel4410-tools  the flash engine, the TIM description library and data,
#                  the console tools qel-flash and Quillon, man pages, completion
#   qel4410-gui    the dialog programs with their desktop entries and icons
#   qel4410-bench  the simulated bench (library, qel-bench, carrier-board
#                  driver) and the sample firmware
set(CPACK_PACKAGE_NAME qel4410)
set(CPACK_PACKAGE_VENDOR "QEL4410 project")
set(CPACK_PACKAGE_CONTACT "QEL4410 developers <qel4410@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Flash programming system for QEL4410 DSP modules")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools gui bench)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# System libraries from dpkg-shlibdeps; the project's own ones (lib/qel4410)
# come with the packages named in the component dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
# Debug builds make large packages: gzip is quick.
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)

set(CPACK_COMPONENT_TOOLS_DISPLAY_NAME "QEL4410 engine and console tools")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "The flash engine libTelmar.so, the TIM description library and data, qel-flash and Quillon.")
set(CPACK_COMPONENT_TOOLS_DEPENDS bench)
set(CPACK_COMPONENT_GUI_DISPLAY_NAME "QEL4410 dialog programs")
set(CPACK_COMPONENT_GUI_DESCRIPTION "The bitstream stack builder Gorlin and the other dialogs.")
set(CPACK_COMPONENT_GUI_DEPENDS tools)
set(CPACK_COMPONENT_BENCH_DISPLAY_NAME "QEL4410 simulated bench and sample firmware")
set(CPACK_COMPONENT_BENCH_DESCRIPTION
    "The simulated debugger and hardware, qel-bench, the carrier-board driver and sample firmware.")
include(CPack)
