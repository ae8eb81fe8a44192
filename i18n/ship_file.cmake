# SPDX-License-Identifier: GPL-3.0-or-later
# cmake -DSOURCE=... -DDEST=... -DMODE=if_absent|if_present -P ship_file.cmake
#   if_absent:  copy only when DEST does not exist yet (it holds user choices)
#   if_present: refresh DEST whenever SOURCE exists
if(MODE STREQUAL "if_absent")
  if(NOT EXISTS "${DEST}")
    configure_file("${SOURCE}" "${DEST}" COPYONLY)
  endif()
elseif(EXISTS "${SOURCE}")
  configure_file("${SOURCE}" "${DEST}" COPYONLY)
endif()
