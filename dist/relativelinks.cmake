# Run by CPack on the staged package: absolute symbolic links become relative
# ones, so /usr/share/motifo/.../module.dat reaches /usr/share/sounds/... as
# ../../.. paths.
file(GLOB_RECURSE links LIST_DIRECTORIES false FOLLOW_SYMLINKS false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(link ${links})
  if(NOT IS_SYMLINK "${link}")
    continue()
  endif()
  file(READ_SYMLINK "${link}" target)
  if(NOT IS_ABSOLUTE "${target}")
    continue()
  endif()
  # Where the link sits once installed.
  file(RELATIVE_PATH installed "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" "${link}")
  get_filename_component(folder "/${installed}" DIRECTORY)
  file(RELATIVE_PATH relative "${folder}" "${target}")
  file(REMOVE "${link}")
  file(CREATE_LINK "${relative}" "${link}" SYMBOLIC)
endforeach()
