# What `cmake --install` puts where. Components: "runtime" (plug-in, rulehost,
# sample data, docs) and "dev" (headers, host kit, CMake package, pkg-config).
include(CMakePackageConfigHelpers)

install(TARGETS gamerules
        LIBRARY DESTINATION ${GAMERULES_PLUGIN_DIR} COMPONENT runtime
                NAMELINK_COMPONENT runtime)
if(GAMERULES_HOST)
  install(TARGETS rulehost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()
install(DIRECTORY resources/ DESTINATION ${GAMERULES_RESOURCES_DIR} COMPONENT runtime)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime
        FILES_MATCHING PATTERN "*.md")

install(DIRECTORY interface/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/gamerules COMPONENT dev
        FILES_MATCHING PATTERN "*.h")
install(DIRECTORY hostkit/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/gamerules/hostkit
        COMPONENT dev FILES_MATCHING PATTERN "*.h")
install(TARGETS gamerules_interface gamerules_hostkit EXPORT gamerulesTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(EXPORT gamerulesTargets NAMESPACE gamerules:: DESTINATION ${GAMERULES_CMAKE_DIR}
        COMPONENT dev)
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT dev)

# Paths in the package config are relative to where it is installed, so a
# copied tree or an unpacked package finds its own plug-in.
configure_package_config_file(cmake/gamerulesConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/gamerulesConfig.cmake
  INSTALL_DESTINATION ${GAMERULES_CMAKE_DIR}
  PATH_VARS GAMERULES_PLUGIN_FILE GAMERULES_RESOURCES_DIR CMAKE_INSTALL_DOCDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/gamerulesConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/gamerulesConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/gamerulesConfigVersion.cmake
        DESTINATION ${GAMERULES_CMAKE_DIR} COMPONENT dev)

file(RELATIVE_PATH GAMERULES_PC_TO_PREFIX "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig"
     "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" GAMERULES_PC_TO_PREFIX "${GAMERULES_PC_TO_PREFIX}")
configure_file(cmake/gamerules.pc.in ${CMAKE_CURRENT_BINARY_DIR}/gamerules.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/gamerules.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
