# Fills the runnable working directory (cmake -P, run after quillet is
# linked): the program and its reading pane, its languages, the stylesheet, the help page, the
# delivered configuration, and an empty feeds/ folder.
foreach(var QUILLET_DATA_DIR QUILLET_STAGE_DIR QUILLET_PROGRAM QUILLET_PANE_PROGRAM)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "Stage.cmake needs -D${var}=...")
  endif()
endforeach()

file(MAKE_DIRECTORY ${QUILLET_STAGE_DIR} ${QUILLET_STAGE_DIR}/feeds)
# The program takes a folder as its home only when group and others cannot
# write to it; under a umask of 002 the folder would be passed over.
file(CHMOD ${QUILLET_STAGE_DIR} DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(COPY ${QUILLET_PROGRAM} ${QUILLET_PANE_PROGRAM} DESTINATION ${QUILLET_STAGE_DIR})

# Languages are program data: replaced as a whole, so a language removed
# from the sources does not linger.
file(REMOVE_RECURSE ${QUILLET_STAGE_DIR}/languages)
file(COPY ${QUILLET_DATA_DIR}/languages DESTINATION ${QUILLET_STAGE_DIR})

file(COPY ${QUILLET_DATA_DIR}/rss.xsl DESTINATION ${QUILLET_STAGE_DIR})
if(EXISTS ${QUILLET_DATA_DIR}/help)
  file(COPY ${QUILLET_DATA_DIR}/help DESTINATION ${QUILLET_STAGE_DIR})
endif()

configure_file(${QUILLET_DATA_DIR}/config.xml ${QUILLET_STAGE_DIR}/config.default.xml COPYONLY)
if(NOT EXISTS ${QUILLET_STAGE_DIR}/config.xml)
  configure_file(${QUILLET_DATA_DIR}/config.xml ${QUILLET_STAGE_DIR}/config.xml COPYONLY)
endif()
