# Debian packages, one per install component: `cpack -G DEB` in a build configured for the /usr
# prefix (the package preset; scripts/package builds and checks them).
set(CPACK_PACKAGE_NAME zendro)
set(CPACK_PACKAGE_VENDOR Zendro)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
# The packages hold what this build installs, with the prefix its package files were written for.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tool)
if(TARGET zdsim)
  list(APPEND CPACK_COMPONENTS_ALL sim)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Zendro developers <zendro@example.org>"
  CACHE STRING "Maintainer field of the Debian packages")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps looks for zdtool's and zdsim's own libraries in the runtime package's staging
# folder, a sibling of the one it runs in; the dependency on that package comes from the
# component dependencies below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "../runtime${CMAKE_INSTALL_FULL_LIBDIR}")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libzendro${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "Zendro render-farm client libraries
ZRFramework, the general services of the Zendro render-farm client (strings, property maps,
MD5 and Base64, threads and locks, file system, logging and the farm's wire framing), and
ZRTemplateEngine, its job templates (language, parser, manager and macros).")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzendro-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "Zendro render-farm client libraries: development files
Headers, CMake packages (find_package(ZRFramework) and find_package(ZRTemplateEngine), with the
targets ZRFramework::ZRFramework and ZRTemplateEngine::ZRTemplateEngine) and pkg-config files
for building programs against ZRFramework and ZRTemplateEngine.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME zdtool)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_DESCRIPTION "Command-line client of the Zendro render farm
zdtool lists, controls and submits render jobs on a Zendro farm's Dispatcher, for artists,
farm administrators and pipeline scripts.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME zdsim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_SIM_DESCRIPTION "Dispatcher simulator of the Zendro render farm
zdsim plays a Zendro farm's Dispatcher on the local machine, from a farm described in JSON or
generated, to try zdtool or test farm scripts without a farm.")

set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/CompressManPages.cmake)

include(CPack)

cpack_add_component(runtime DISPLAY_NAME "Libraries")
cpack_add_component(development DISPLAY_NAME "Development files" DEPENDS runtime)
cpack_add_component(tool DISPLAY_NAME "zdtool" DEPENDS runtime)
cpack_add_component(sim DISPLAY_NAME "zdsim" DEPENDS runtime)
