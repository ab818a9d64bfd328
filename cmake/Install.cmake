# The programs' Windows resources and what an install puts where.
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
  return()
endif()

install(TARGETS tessaly tessaly-dump RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/tessaly.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/tessaly-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tessaly.png)
endforeach()
if(TARGET tessaly-stb-sim)
  install(TARGETS tessaly-stb-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
