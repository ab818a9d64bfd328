# The AppStream metadata software centres read: written from packaging/tessaly.metainfo.xml.in,
# with one release per entry of packaging/changelog, so that versions and dates are written down
# in one place each.

# Where the project's pages and the screenshots they show are published (the address the window's
# About frame links to); the component's id is that domain reversed, as AppStream asks.
set(TESSALY_WEB_DOMAIN tessaly.example.org)
set(TESSALY_WEB_URL "https://${TESSALY_WEB_DOMAIN}/")
string(REPLACE "." ";" domain_parts ${TESSALY_WEB_DOMAIN})
list(REVERSE domain_parts)
list(JOIN domain_parts "." reversed_domain)
set(TESSALY_APPSTREAM_ID ${reversed_domain}.Tessaly)

# Text as XML element content: only & and < need escaping there.
function(xml_text text out)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# "Mon, 07 Dec 2026 12:00:00 +0000" as AppStream writes dates: 2026-12-07.
function(iso_date changelog_date out)
  if(NOT changelog_date MATCHES "^[A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9]+) ")
    message(FATAL_ERROR "packaging/changelog: no date in \"${changelog_date}\"")
  endif()
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  set(numbers 01 02 03 04 05 06 07 08 09 10 11 12)
  list(FIND months ${CMAKE_MATCH_2} index)
  list(GET numbers ${index} month)
  set(${out} "${CMAKE_MATCH_3}-${month}-${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# Each entry's items ("  * ...", continued by indented lines) become the release's list.
function(appstream_releases changelog out)
  file(READ ${changelog} text)
  string(ASCII 1 semicolon)  # carried through the list of lines, which splits at semicolons
  string(REPLACE ";" "${semicolon}" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(releases "")
  set(items "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^tessaly \\(([^)]+)\\)")
      set(version ${CMAKE_MATCH_1})
      set(items "")
    elseif(line MATCHES "^  \\* (.*)$")
      xml_text("${CMAKE_MATCH_1}" item)
      if(items)
        string(APPEND items "</li>")
      endif()
      string(APPEND items "\n          <li>${item}")
    elseif(line MATCHES "^    +(.*)$")
      xml_text("${CMAKE_MATCH_1}" item)
      string(APPEND items " ${item}")
    elseif(line MATCHES "^ -- .*>  (.*)$")
      iso_date("${CMAKE_MATCH_1}" date)
      string(APPEND releases "    <release version=\"${version}\" date=\"${date}\">\n"
             "      <description>\n        <ul>${items}</li>\n        </ul>\n      </description>\n"
             "    </release>\n")
    endif()
  endforeach()
  string(REGEX REPLACE "\n$" "" releases "${releases}")
  string(REPLACE "${semicolon}" ";" releases "${releases}")
  set(${out} "${releases}" PARENT_SCOPE)
endfunction()

function(write_metainfo changelog template output)
  appstream_releases(${changelog} TESSALY_APPSTREAM_RELEASES)
  configure_file(${template} ${output} @ONLY)
endfunction()

# As a script, for the tests: cmake -DCHANGELOG=... -DTEMPLATE=... -DOUTPUT=... -P Metainfo.cmake
if(CMAKE_SCRIPT_MODE_FILE)
  write_metainfo(${CHANGELOG} ${TEMPLATE} ${OUTPUT})
  return()
endif()

set(changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
set(TESSALY_METAINFO ${CMAKE_BINARY_DIR}/${TESSALY_APPSTREAM_ID}.metainfo.xml)
write_metainfo(${changelog} ${PROJECT_SOURCE_DIR}/packaging/tessaly.metainfo.xml.in
               ${TESSALY_METAINFO})
install(FILES ${TESSALY_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
