# Run by cpack after each package is made: SHA256SUMS beside the packages, in the format
# `sha256sum -c SHA256SUMS` checks, so that a download can be checked. cpack runs this once per
# generator, so the packages already listed that still lie beside the file stay in it, hashed
# afresh.
set(sums_file ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS)
set(names "")
foreach(package ${CPACK_PACKAGE_FILES})
  get_filename_component(name ${package} NAME)
  list(APPEND names ${name})
endforeach()

set(sums "")
if(EXISTS ${sums_file})
  file(STRINGS ${sums_file} listed REGEX "^[0-9a-f]+  ")
  foreach(line ${listed})
    string(REGEX REPLACE "^[0-9a-f]+  " "" name "${line}")
    if(EXISTS ${CPACK_PACKAGE_DIRECTORY}/${name} AND NOT name IN_LIST names)
      file(SHA256 ${CPACK_PACKAGE_DIRECTORY}/${name} hash)
      string(APPEND sums "${hash}  ${name}\n")
    endif()
  endforeach()
endif()
# The new packages are still in the staging directory here; they are copied beside this file next.
foreach(package ${CPACK_PACKAGE_FILES})
  file(SHA256 ${package} hash)
  get_filename_component(name ${package} NAME)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${sums_file} "${sums}")
