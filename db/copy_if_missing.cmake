# Copies SOURCE to OUT unless OUT exists: an existing file holds a user's readings.
#   cmake -DSOURCE=... -DOUT=... -P copy_if_missing.cmake
if(EXISTS "${OUT}")
  return()
endif()
get_filename_component(dir "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
file(COPY_FILE "${SOURCE}" "${OUT}.new")
file(RENAME "${OUT}.new" "${OUT}")
