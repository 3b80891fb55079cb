# What the Windows programs need beside them to run on a Windows with nothing
# else installed: the Qt, libcurl, OpenSSL and MinGW runtime DLLs, and the Qt
# plugins (platform and style) in the folders Qt looks for them next to the
# program. The install rules lay out the portable folder; the NSIS installer
# packs the same tree.
#
# QV58_WINDOWS_RUNTIME_DLLS and QV58_WINDOWS_RUNTIME_DIRS are also what the
# tests under Wine put on their PATH.

set(QV58_WINDOWS_RUNTIME_DLLS)
foreach(qt_module Core Gui Widgets Network)
    list(APPEND QV58_WINDOWS_RUNTIME_DLLS $<TARGET_FILE:Qt6::${qt_module}>)
endforeach()
list(APPEND QV58_WINDOWS_RUNTIME_DLLS $<TARGET_FILE:CURL::libcurl>)

# OpenSSL's import libraries name their DLLs; FindOpenSSL knows only the former.
get_filename_component(openssl_lib_dir "${OPENSSL_CRYPTO_LIBRARY}" DIRECTORY)
set(QV58_WINDOWS_RUNTIME_DIRS "${openssl_lib_dir}/../bin")
foreach(dll libcrypto-3-x64.dll libssl-3-x64.dll)
    find_file(QV58_DLL_${dll} ${dll} PATHS "${openssl_lib_dir}/../bin" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT QV58_DLL_${dll})
        message(FATAL_ERROR "No ${dll} beside ${OPENSSL_CRYPTO_LIBRARY}")
    endif()
    list(APPEND QV58_WINDOWS_RUNTIME_DLLS ${QV58_DLL_${dll}})
endforeach()

# The compiler's own runtime: libstdc++, libgcc and winpthreads.
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${dll} is")
    endif()
    file(REAL_PATH "${path}" path)
    list(APPEND QV58_WINDOWS_RUNTIME_DLLS ${path})
    get_filename_component(dir "${path}" DIRECTORY)
    list(APPEND QV58_WINDOWS_RUNTIME_DIRS ${dir})
endforeach()
foreach(target Qt6::Core CURL::libcurl)
    get_target_property(location ${target} IMPORTED_LOCATION_RELEASE)
    if(NOT location)
        get_target_property(location ${target} IMPORTED_LOCATION)
    endif()
    get_filename_component(dir "${location}" DIRECTORY)
    list(APPEND QV58_WINDOWS_RUNTIME_DIRS ${dir})
endforeach()
list(REMOVE_DUPLICATES QV58_WINDOWS_RUNTIME_DIRS)

install(FILES ${QV58_WINDOWS_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION ${CMAKE_INSTALL_BINDIR}/platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION ${CMAKE_INSTALL_BINDIR}/styles)

# The installer: Start-menu entry and uninstaller, under Program Files.
set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_FILE_NAME "qv58link-upgrade-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "QV58-Link Upgrade")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "QV58-Link Upgrade")
set(CPACK_PACKAGE_EXECUTABLES "qv58link-upgrade;QV58-Link Upgrade")
set(CPACK_NSIS_PACKAGE_NAME "QV58-Link Upgrade ${PROJECT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "QV58-Link Upgrade")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_INSTALLED_ICON_NAME "qv58link-upgrade.exe")
set(CPACK_NSIS_MUI_FINISHPAGE_RUN "qv58link-upgrade.exe")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ".")
# The 64-bit template in cmake/ replaces CPack's own.
list(APPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake)

# Stripped installs (the portable folder, the installer) strip the DLLs too:
# the compiler's libstdc++ alone carries 20 MB of debug information.
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        file(GLOB_RECURSE dlls \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/*.dll\")
        foreach(dll IN LISTS dlls)
            execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \"\${dll}\" COMMAND_ERROR_IS_FATAL ANY)
        endforeach()
    endif()")
