# For a build for another processor (arm64, WebAssembly): Debian's CLI11,
# toml++ and {fmt} as header-only libraries from the build machine. Debian's toml++ is
# compiled for the build machine, and adding /usr/include itself to the
# include path would put the build machine's C library headers ahead of the
# target's; so only their own folders are linked into the build tree.
set(kelvane_host_headers "${CMAKE_BINARY_DIR}/host-headers")
file(MAKE_DIRECTORY "${kelvane_host_headers}")
foreach(folder CLI toml++ fmt)
  if(NOT EXISTS "/usr/include/${folder}")
    message(FATAL_ERROR "/usr/include/${folder} is missing: install libcli11-dev, "
                        "libtomlplusplus-dev and libfmt-dev (scripts/deps.sh)")
  endif()
  file(CREATE_LINK "/usr/include/${folder}" "${kelvane_host_headers}/${folder}" SYMBOLIC)
endforeach()

add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES
                                              "${kelvane_host_headers}")
add_library(tomlplusplus::tomlplusplus INTERFACE IMPORTED)
set_target_properties(tomlplusplus::tomlplusplus PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${kelvane_host_headers}"
  INTERFACE_COMPILE_DEFINITIONS "TOML_HEADER_ONLY=1")
