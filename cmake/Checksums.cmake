# Run by cpack after the packages are made: SHA256SUMS beside them, in the format
# `sha256sum -c SHA256SUMS` checks, so that a download can be checked.
set(sums "")
foreach(package ${CPACK_PACKAGE_FILES})
  file(SHA256 ${package} hash)
  get_filename_component(name ${package} NAME)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
# The packages are still in the staging directory here; they are copied beside this file next.
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS "${sums}")
