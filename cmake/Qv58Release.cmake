# The project's one version (project() above) goes into the package, the
# metainfo's release entry, the man pages and every companion's --version.
# The window's caption is the tool's own and does not follow it.
set(QV58_RELEASE_DATE "2026-12-09")
set(QV58_RELEASE_DATE_RFC2822 "Wed, 09 Dec 2026 12:00:00 +0000")
# Names the desktop entry, the metainfo and the icon alike.
set(QV58_APP_ID com.quorvantix.qv58link_upgrade)
set(QV58_PACKAGE_MAINTAINER "Quorvantix <support@quorvantix.com>"
    CACHE STRING "Maintainer named in the Debian package and its changelog")

configure_file(${CMAKE_CURRENT_LIST_DIR}/ProjectVersion.h.in
    ${PROJECT_BINARY_DIR}/generated/ProjectVersion.h @ONLY)
add_library(qv58_version INTERFACE)
target_include_directories(qv58_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
