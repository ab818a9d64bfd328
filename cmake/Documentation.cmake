# The manual pages, made from each program's own --help at build time so that the options they
# list are always the programs' own, plus the sections that --help cannot carry; and the
# changelog. Both compressed as Debian keeps them.

# Sanitized programs are not run at build time: their leak report would fail the build.
if(TESSALY_SANITIZE)
  option(TESSALY_MANUALS "Generate the manual pages (needs help2man)" OFF)
else()
  option(TESSALY_MANUALS "Generate the manual pages (needs help2man)" ON)
endif()
find_program(TESSALY_GZIP gzip REQUIRED)

set(TESSALY_MANUAL_PAGES)
if(TESSALY_MANUALS)
  find_program(TESSALY_HELP2MAN help2man)
  if(NOT TESSALY_HELP2MAN)
    message(FATAL_ERROR "The manual pages need help2man (Debian package help2man); "
                        "or configure with -DTESSALY_MANUALS=OFF to go without them.")
  endif()
  foreach(program tessaly tessaly-dump tessaly-stb-sim)
    set(sections ${PROJECT_SOURCE_DIR}/packaging/man/${program}.h2m)
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      # The window's --help needs no display; offscreen keeps it from looking for one.
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
              ${TESSALY_HELP2MAN} --no-info --section=1 --manual=Tessaly
              "--source=${PROJECT_NAME} ${TESSALY_VERSION_TEXT}"
              --version-string=${TESSALY_VERSION_TEXT}
              --include=${sections} --output=${page} $<TARGET_FILE:${program}>
      COMMAND ${TESSALY_GZIP} -9nf ${page}
      DEPENDS ${program} ${sections}
      COMMENT "Manual page ${program}(1)"
      VERBATIM)
    list(APPEND TESSALY_MANUAL_PAGES ${page}.gz)
  endforeach()
endif()

# The changelog's newest entry must be this version's, so a release cannot go out without one.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^tessaly \\(${TESSALY_RELEASE}\\) ")
  message(FATAL_ERROR "packaging/changelog starts with \"${newest}\"; "
                      "its newest entry must be for version ${TESSALY_RELEASE}.")
endif()
set(TESSALY_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${TESSALY_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/changelog
          ${CMAKE_BINARY_DIR}/changelog
  COMMAND ${TESSALY_GZIP} -9nf ${CMAKE_BINARY_DIR}/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  VERBATIM)

add_custom_target(documentation ALL DEPENDS ${TESSALY_MANUAL_PAGES} ${TESSALY_CHANGELOG})
