# Installation of libornsdi with its header and a CMake package:
# find_package(ORNSDI CONFIG) gives the target ORNSDI::ornsdi.
# cmake --install <build> --component ORNSDI installs only this.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ORNSDI_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ORNSDI)
install(TARGETS ornsdi EXPORT ORNSDITargets COMPONENT ORNSDI
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ORNSDI.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT ORNSDI)
install(EXPORT ORNSDITargets NAMESPACE ORNSDI:: DESTINATION ${ORNSDI_CMAKE_DIR} COMPONENT ORNSDI)
if(NOT VANTREL_WINDOWS)
  # On Linux libornsdi runs on the Win32 layer, installed next to it, and the
  # simulated card's driver module goes into the layer's driver folder, so that
  # VANTREL_SIMCARD gives an installed program a card. The card is configured
  # after this folder: its rules are added once every folder is.
  install(TARGETS vwin32 COMPONENT ORNSDI LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  function(_ornsdi_install_simcard)
    if(TARGET vantrel_simcard_driver)
      install(TARGETS vantrel_simcard COMPONENT ORNSDI LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
      install(TARGETS vantrel_simcard_driver COMPONENT ORNSDI
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/vwin32-drivers)
    endif()
  endfunction()
  cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL _ornsdi_install_simcard)
endif()

configure_package_config_file(ORNSDIConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/ORNSDIConfig.cmake
  INSTALL_DESTINATION ${ORNSDI_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ORNSDIConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ORNSDIConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/ORNSDIConfigVersion.cmake
  DESTINATION ${ORNSDI_CMAKE_DIR} COMPONENT ORNSDI)
