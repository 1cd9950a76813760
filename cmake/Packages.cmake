# Debian packages made by `cpack` in the build directory:
#   gamerules      the plug-in, rulehost, the sample data and the docs
#   gamerules-dev  the ABI headers, the host kit, the CMake package and gamerules.pc
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME gamerules)
set(CPACK_PACKAGE_VENDOR "gamerules")
set(CPACK_PACKAGE_CONTACT "gamerules maintainers <gamerules@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Rules plug-in for game servers, with its reference host")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies come from the shared libraries the binaries link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION games)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME gamerules)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION games)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Rules plug-in for game servers\n The logic plug-in libgamerules.so (NPC creators, area bosses, auto team\n farms), the reference host rulehost with its designer tools (demo, check,\n simulate), the sample game data and the guides.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME gamerules-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "gamerules (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "Headers and host kit for hosting the gamerules plug-in\n The plug-in's ABI headers, the host kit (a neutral kernel to derive from,\n the host-side variant list, the plug-in loader), the CMake package\n (find_package(gamerules)) and gamerules.pc.")

include(CPack)
