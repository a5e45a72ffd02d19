# Debian packages, made with `cpack -G DEB` in a configured build:
#   qiv-forward            the client with its desktop entry, icons and AppStream data
#   qiv-forward-devserver  the local stand-in service, for trying the client without
#                          the outside hosts
# Tests and benches install nothing; only these two components are packed.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qiv-forward)
set(CPACK_PACKAGE_VENDOR "qiv-forward developers")
set(CPACK_PACKAGE_CONTACT "qiv-forward developers <maintainers@qiv-forward.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Release and debug builds alike give small packages; the build tree keeps
# the symbols.
set(CPACK_STRIP_FILES ON)
# The package's modes must not depend on the umask of whoever builds it.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client devserver)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the binaries link come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME qiv-forward)
set(CPACK_COMPONENT_CLIENT_DESCRIPTION
    "Client for a free domain-forwarding web service
 A one-window desktop program (Qt 6 Widgets and WebEngine) that checks whether
 a name is free under one of the service's domain suffixes, registers it, logs
 in, shows, changes and reloads the account, and deletes the domain.")
# What the linker cannot see: the X11 platform plugin and the CJK fonts the
# window's faces are mapped onto. WebEngine's helper process
# (libqt6webenginecore6-bin) comes with the library's own dependency
# information.
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-wqy-zenhei, fonts-wqy-microhei")

set(CPACK_DEBIAN_DEVSERVER_PACKAGE_NAME qiv-forward-devserver)
set(CPACK_COMPONENT_DEVSERVER_DESCRIPTION
    "Local stand-in service for qiv-forward
 qiv-devserver answers as the forwarding service, the public-IP page and the
 advertisement host, each on its own loopback address, so that qiv-forward
 can be tried and tested without the outside hosts.")

include(CPack)
