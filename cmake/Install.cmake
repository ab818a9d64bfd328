# The programs' Windows resources and what an install puts where. On Linux, `cmake --install`
# and the Debian package install the same set; on Windows, the set is the zip's.

# Debug information is of no use to users and several times the programs' size. Builds that carry
# it on purpose (Debug, RelWithDebInfo) keep it when installed.
function(tessaly_strip_on_install)  # patterns below the install prefix, searched recursively
  install(CODE "set(tessaly_strip \"${CMAKE_STRIP}\")\nset(tessaly_patterns \"${ARGN}\")")
  install(CODE [[
    if(CMAKE_INSTALL_CONFIG_NAME MATCHES "^(Release|MinSizeRel)$")
      list(TRANSFORM tessaly_patterns PREPEND "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/")
      file(GLOB_RECURSE binaries ${tessaly_patterns})
      execute_process(COMMAND "${tessaly_strip}" --strip-unneeded --remove-section=.comment
                              ${binaries} COMMAND_ERROR_IS_FATAL ANY)
    endif()
  ]])
endfunction()

# One version, as the package and the zip name carry it.
set(TESSALY_RELEASE "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")

if(WIN32)
  # Each program file carries the icon and the version record.
  foreach(program tessaly tessaly-dump)
    set(TESSALY_PROGRAM_NAME ${program})
    configure_file(${PROJECT_SOURCE_DIR}/resources/tessaly.rc.in
                   ${CMAKE_BINARY_DIR}/${program}.rc @ONLY)
    target_sources(${program} PRIVATE ${CMAKE_BINARY_DIR}/${program}.rc)
  endforeach()
  set_target_properties(tessaly PROPERTIES WIN32_EXECUTABLE ON)
  # Everything the zip holds lies side by side, as the programs look for it.
  install(TARGETS tessaly tessaly-dump RUNTIME DESTINATION .)
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsPackage.cmake)
  return()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/Documentation.cmake)

set(TESSALY_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/tessaly)
install(TARGETS tessaly tessaly-dump tessaly-stb-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
tessaly_strip_on_install(${CMAKE_INSTALL_BINDIR}/tessaly*)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/tessaly.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
include(${CMAKE_CURRENT_LIST_DIR}/Metainfo.cmake)
foreach(size 16 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/tessaly-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tessaly.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/resources/tessaly.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

install(FILES ${TESSALY_MANUAL_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# bash-completion loads a command's completion from a file named after the command.
foreach(program tessaly-dump tessaly-stb-sim)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/tessaly.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program})
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright
              ${TESSALY_CHANGELOG}
        DESTINATION ${TESSALY_DOCDIR})

include(${CMAKE_CURRENT_LIST_DIR}/Packaging.cmake)
