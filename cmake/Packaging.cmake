# Debian packages, made with `cpack -G DEB` in a configured build:
#   qiv-forward            the client with its desktop entry, icons and AppStream data
#   qiv-forward-devserver  the local stand-in service, for trying the client without
#                          the outside hosts
#   qiv-follow             the follower of the public IP, with its user units; no
#                          widgets, so a headless server gets no Qt WebEngine
#   qiv-forward-common     /etc/qiv-forward/hosts.conf, the hosts of both programs
#                          for the whole machine (a conffile, every line a comment)
# Tests and benches install nothing; only these four components are packed.
# Each package also carries its copyright (machine-readable) and changelog
# under /usr/share/doc/<package>/, and the manual pages of its programs.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qiv-forward)
set(CPACK_PACKAGE_VENDOR "The Qiv free domain forwarding developers")
set(CPACK_PACKAGE_CONTACT
    "The Qiv free domain forwarding developers <maintainers@qiv-forward.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Release and debug builds alike give small packages; the build tree keeps
# the symbols.
set(CPACK_STRIP_FILES ON)
# The package's modes must not depend on the umask of whoever builds it.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client devserver follow common)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the binaries link come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME qiv-forward)
# The first line is the synopsis. cpack indents the lines after it by one
# space itself; a line given with a leading space of its own would reach
# the control file with two, which means verbatim text.
set(CPACK_COMPONENT_CLIENT_DESCRIPTION
    "Client for a free domain-forwarding web service
A one-window desktop program (Qt 6 Widgets and WebEngine) that checks whether
a name is free under one of the service's domain suffixes, registers it, logs
in, shows, changes and reloads the account, and deletes the domain.")
# What the linker cannot see: the X11 platform plugin and the CJK fonts the
# window's faces are mapped onto. WebEngine's helper process
# (libqt6webenginecore6-bin) comes with the library's own dependency
# information.
set(QIV_COMMON_DEPENDS "qiv-forward-common (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS
    "${QIV_COMMON_DEPENDS}, qt6-qpa-plugins, fonts-wqy-zenhei, fonts-wqy-microhei")

set(CPACK_DEBIAN_DEVSERVER_PACKAGE_NAME qiv-forward-devserver)
set(CPACK_COMPONENT_DEVSERVER_DESCRIPTION
    "Local stand-in service for qiv-forward
qiv-devserver answers as the forwarding service, the public-IP page and the
advertisement host, each on its own loopback address, so that qiv-forward
can be tried and tested without the outside hosts.")

set(CPACK_DEBIAN_FOLLOW_PACKAGE_NAME qiv-follow)
set(CPACK_COMPONENT_FOLLOW_DESCRIPTION
    "Keeps a Qiv free domain's forwarding target on the public IP
qiv-follow looks up the machine's public IP address on a schedule and, when
it has changed, points the forwarding target of a domain of the Qiv free
domain forwarding service at it, unattended. It has no window; it comes with
a systemd user unit and takes its password from a private file, a systemd
credential or the Secret Service.")
set(CPACK_DEBIAN_FOLLOW_PACKAGE_DEPENDS "${QIV_COMMON_DEPENDS}")

set(CPACK_DEBIAN_COMMON_PACKAGE_NAME qiv-forward-common)
set(CPACK_DEBIAN_COMMON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_COMMON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_COMPONENT_COMMON_DESCRIPTION
    "Hosts file shared by qiv-forward and qiv-follow
/etc/qiv-forward/hosts.conf names, for every user of the machine, the
forwarding service, the public-IP page and the advertisement host that
qiv-forward and qiv-follow talk to. As shipped every line is a comment: the
administrator names the service there once.")
# The file is the administrator's: an upgrade keeps their changes.
set(CPACK_DEBIAN_COMMON_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/common/conffiles)

# The copyright, changelog and manual pages. Debian wants the changelog and
# the pages compressed with `gzip -9n`: no name or time stamp in the file, so
# that the same sources give the same bytes. They are made at build time.
set(QIV_PACKAGING_SOURCE ${PROJECT_SOURCE_DIR}/packaging)
set(QIV_PACKAGING_BINARY ${PROJECT_BINARY_DIR}/packaging)
find_program(QIV_GZIP gzip REQUIRED)

# The changelog's latest entry names the version the packages get.
file(STRINGS ${QIV_PACKAGING_SOURCE}/changelog QIV_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT QIV_CHANGELOG_TOP MATCHES "^qiv-forward \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog: the latest entry is not version "
        "${PROJECT_VERSION}: ${QIV_CHANGELOG_TOP}")
endif()

set(QIV_PACKAGING_OUTPUTS)
function(qiv_gzip source output)
    add_custom_command(OUTPUT ${output}
        COMMAND sh -c "\"$1\" -9n -c \"$2\" > \"$3\"" sh ${QIV_GZIP} ${source} ${output}
        DEPENDS ${source}
        COMMENT "gzip -9n ${output}"
        VERBATIM)
    set(QIV_PACKAGING_OUTPUTS ${QIV_PACKAGING_OUTPUTS} ${output} PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY ${QIV_PACKAGING_BINARY})
qiv_gzip(${QIV_PACKAGING_SOURCE}/changelog ${QIV_PACKAGING_BINARY}/changelog.gz)

# Manual pages, as pairs of page and component.
set(QIV_MAN_PAGES
    qiv-forward.1 client
    qiv-devserver.1 devserver
    qiv-follow.1 follow)
set(QIV_MAN_PAGE_LIST ${QIV_MAN_PAGES})
while(QIV_MAN_PAGE_LIST)
    list(POP_FRONT QIV_MAN_PAGE_LIST page component)
    qiv_gzip(${QIV_PACKAGING_SOURCE}/${page} ${QIV_PACKAGING_BINARY}/${page}.gz)
    install(FILES ${QIV_PACKAGING_BINARY}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT ${component})
endwhile()

install(FILES ${QIV_PACKAGING_SOURCE}/hosts.conf DESTINATION /etc/qiv-forward COMPONENT common)

install(FILES ${QIV_PACKAGING_SOURCE}/qiv-follow.service ${QIV_PACKAGING_SOURCE}/qiv-follow@.service
    DESTINATION lib/systemd/user COMPONENT follow)

foreach(component client devserver follow common)
    string(TOUPPER ${component} upper)
    set(docs ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    install(FILES ${QIV_PACKAGING_SOURCE}/copyright ${QIV_PACKAGING_BINARY}/changelog.gz
        DESTINATION ${docs} COMPONENT ${component})
endforeach()

add_custom_target(qiv_package_docs ALL DEPENDS ${QIV_PACKAGING_OUTPUTS})

include(CPack)
