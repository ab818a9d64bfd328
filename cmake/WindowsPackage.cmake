# The zip a Windows user unpacks and runs, and the installer with the same files: both programs,
# the Qt and compiler runtime libraries they load, the platform and style plugins, the README and
# the licences. cpack writes SHA256SUMS beside them.

foreach(module Core Gui Widgets SerialPort)
  install(FILES $<TARGET_FILE:Qt6::${module}> DESTINATION .)
endforeach()
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)

# The compiler's own runtime, found where the compiler finds it.
foreach(library libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${library}
                  OUTPUT_VARIABLE library_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${library_path}" OR NOT EXISTS "${library_path}")
    message(FATAL_ERROR "The compiler does not know where ${library} is; the zip needs it.")
  endif()
  install(FILES ${library_path} DESTINATION .)
endforeach()

# Qt is used under the LGPL 3, which builds on the GPL 3; both texts go along with where the
# source of these Qt libraries is found.
set(TESSALY_LICENCE_TEXTS /usr/share/common-licenses CACHE PATH "Directory with LGPL-3 and GPL-3")
if(NOT EXISTS ${TESSALY_LICENCE_TEXTS}/LGPL-3 OR NOT EXISTS ${TESSALY_LICENCE_TEXTS}/GPL-3)
  message(WARNING "No zip: it must carry Qt's licence. Set TESSALY_LICENCE_TEXTS to a directory "
                  "with the files LGPL-3 and GPL-3.")
  return()
endif()
file(READ ${TESSALY_LICENCE_TEXTS}/LGPL-3 lgpl_text)
file(READ ${TESSALY_LICENCE_TEXTS}/GPL-3 gpl_text)
file(WRITE ${CMAKE_BINARY_DIR}/LICENSE-Qt.txt
"Tessaly uses the Qt libraries Qt6Core, Qt6Gui, Qt6Widgets and Qt6SerialPort and the Qt
plugins qwindows and qwindowsvistastyle (Qt ${Qt6_VERSION}), licensed under the GNU Lesser
General Public License version 3 (below, followed by the GNU General Public License version 3
that it builds on). The Qt libraries in this package are unmodified builds of:

  qtbase ${Qt6_VERSION}:      https://download.qt.io/archive/qt/6.4/${Qt6_VERSION}/submodules/
                        (also Debian's source package qt6-base ${Qt6_VERSION}+dfsg)
  qtserialport ${Qt6_VERSION}: https://code.qt.io/cgit/qt/qtserialport.git/tag/?h=v${Qt6_VERSION}

You may replace these libraries with your own builds of the same version.

========================================================================================
GNU LESSER GENERAL PUBLIC LICENSE, version 3
========================================================================================

${lgpl_text}

========================================================================================
GNU GENERAL PUBLIC LICENSE, version 3
========================================================================================

${gpl_text}")

# The README's user part as text with CRLF line ends: what Notepad shows on any Windows.
set(readme_text ${CMAKE_BINARY_DIR}/README.txt)
add_custom_command(OUTPUT ${readme_text}
  COMMAND ${CMAKE_COMMAND} -DREADME_MD=${PROJECT_SOURCE_DIR}/README.md -DREADME_TXT=${readme_text}
          "-DTITLE=${PROJECT_NAME} ${TESSALY_RELEASE}" -P ${CMAKE_CURRENT_LIST_DIR}/ReadmeText.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${CMAKE_CURRENT_LIST_DIR}/ReadmeText.cmake
  VERBATIM)
add_custom_target(readme_text ALL DEPENDS ${readme_text})

install(FILES ${readme_text} ${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/LICENSE-Qt.txt
        DESTINATION .)

tessaly_strip_on_install(*.dll *.exe)

# The zip and, from the same files, the installer (packaging/windows/NSIS.template.in, made with
# Debian's makensis): one `cpack` makes both.
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The Tessaly developers")
set(CPACK_PACKAGE_FILE_NAME "${PROJECT_NAME}-${TESSALY_RELEASE}-win64")
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/Checksums.cmake)
# Unpacked into a folder, the programs lie right there.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/packaging/windows)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/windows/CPackOptions.cmake)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/resources/tessaly.ico)
include(CPack)
