# Packs the release zip again, after CPack has made it and before CPack copies
# it out and writes its checksum (CPACK_POST_BUILD_SCRIPTS), so that the same
# sources give the same bytes on any machine. CPack's zip records each file's
# own time in the builder's time zone, the builder's user and group ids, and
# the names in the order the file system lists the folder. Here every file
# gets the time SOURCE_DATE_EPOCH (written in UTC) and a fixed mode,
# rw-r--r--, rwxr-xr-x for a program; the names go in sorted, and zip -X
# leaves out the extra fields that carry ids and times. Without
# SOURCE_DATE_EPOCH the files keep their own times.
cmake_minimum_required(VERSION 3.25)

find_program(KOLVA_ZIP zip REQUIRED)
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(NOT epoch MATCHES "^[0-9]*$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is \"${epoch}\": it must be a "
                      "number of seconds since 1970-01-01 00:00 UTC")
endif()
list(LENGTH CPACK_PACKAGE_FILES package_count)
if(NOT package_count EQUAL 1 OR NOT CPACK_PACKAGE_FILES MATCHES "\\.zip$")
  message(FATAL_ERROR "reproducible_zip: one zip expected, CPack made "
                      "'${CPACK_PACKAGE_FILES}'")
endif()

# The names as the zip holds them: the package's folder and what lies in it.
file(GLOB_RECURSE names LIST_DIRECTORIES false
     RELATIVE ${CPACK_TOPLEVEL_DIRECTORY} ${CPACK_TEMPORARY_DIRECTORY}/*)
list(SORT names)
foreach(name IN LISTS names)
  set(permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  if(name MATCHES "\\.exe$")
    list(APPEND permissions OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
  endif()
  file(CHMOD ${CPACK_TOPLEVEL_DIRECTORY}/${name} PERMISSIONS ${permissions})
endforeach()
if(NOT epoch STREQUAL "")
  execute_process(COMMAND touch -d @${epoch} -- ${names}
                  WORKING_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY}
                  COMMAND_ERROR_IS_FATAL ANY)
endif()

# zip writes a file's time as the local time of its time zone.
set(ENV{TZ} UTC)
file(REMOVE ${CPACK_PACKAGE_FILES})
execute_process(COMMAND ${KOLVA_ZIP} -X -D -q ${CPACK_PACKAGE_FILES} -- ${names}
                WORKING_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY}
                COMMAND_ERROR_IS_FATAL ANY)
