# Checks a built KOLVA.exe: cmake -DOBJDUMP=... -DWINDRES=... -DEXE=...
# -DFORMAT=pei-i386 -DVERSION=0.1 -P check_windows_exe.cmake. Fails unless the
# file has the PE format FORMAT, runs in the console subsystem, imports nothing
# but DLLs that every Windows has, carries a manifest that asks for the
# caller's rights and names the supported Windows versions, and carries a
# version resource of VERSION; and unless its banner names VERSION too. Prints
# what the resources say.
cmake_minimum_required(VERSION 3.25)

foreach(variable OBJDUMP WINDRES EXE FORMAT VERSION)
  if(NOT ${variable})
    message(FATAL_ERROR "check_windows_exe: ${variable} is not set")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -f -p ${EXE}
                OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${EXE}: ${OBJDUMP} failed")
endif()

if(NOT dump MATCHES "file format ${FORMAT}\n")
  message(FATAL_ERROR "${EXE}: not of file format ${FORMAT}")
endif()
if(NOT dump MATCHES "\nSubsystem[ \t]+0*3[ \t]+\\(Windows CUI\\)")
  message(FATAL_ERROR "${EXE}: not a console program")
endif()
# The 32-bit program may use 4 GiB of address space on 64-bit Windows.
if(FORMAT STREQUAL "pei-i386" AND NOT dump MATCHES "\n\tlarge address aware\n")
  message(FATAL_ERROR "${EXE}: a 32-bit program that is not large address aware")
endif()

# KERNEL32 and msvcrt carry the C runtime, USER32 the code-page lowering.
set(allowed kernel32.dll msvcrt.dll user32.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(import IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${import}")
  string(TOLOWER "${dll}" dll_lower)
  if(NOT dll_lower IN_LIST allowed)
    message(FATAL_ERROR "${EXE}: imports ${dll}, which is not a system DLL allowed here")
  endif()
endforeach()

# The resources, as the resource compiler reads them back from the file.
execute_process(COMMAND ${WINDRES} -i ${EXE} -O rc
                OUTPUT_VARIABLE resources RESULT_VARIABLE status
                ERROR_VARIABLE windres_error)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${EXE}: no resources: ${windres_error}")
endif()

# The manifest is resource 1 of type RT_MANIFEST (24), written out as quoted
# lines with every '"' doubled.
if(NOT resources MATCHES "\n1 24 /\\* RT_MANIFEST \\*/\nBEGIN\n([^\n]*\n)*END")
  message(FATAL_ERROR "${EXE}: no application manifest")
endif()
set(manifest "${CMAKE_MATCH_0}")
if(NOT manifest MATCHES "<requestedExecutionLevel level=\"\"asInvoker\"\"")
  message(FATAL_ERROR "${EXE}: the manifest does not ask for asInvoker")
endif()
string(REGEX MATCHALL "<supportedOS Id=\"\"{[-0-9a-f]+}\"\"" supported
       "${manifest}")
list(LENGTH supported supported_count)
if(supported_count LESS 5)
  message(FATAL_ERROR "${EXE}: the manifest names ${supported_count} "
                      "Windows versions, not Vista, 7, 8, 8.1 and 10")
endif()

# The version resource, with the strings Explorer's Properties show.
string(REPLACE "." ", " version_numbers "${VERSION}")
if(NOT resources MATCHES "\n1 VERSIONINFO\n FILEVERSION ${version_numbers}[, 0]*\n")
  message(FATAL_ERROR "${EXE}: no version resource of version ${VERSION}")
endif()
string(REPLACE "." "\\." version_pattern "${VERSION}")
foreach(value IN ITEMS "ProductName\", \"KOLVA\""
                       "OriginalFilename\", \"KOLVA\\.exe\""
                       "FileVersion\", \"${version_pattern}\""
                       "ProductVersion\", \"${version_pattern}\""
                       "FileDescription\", \"[^\"]")
  if(NOT resources MATCHES "\n +VALUE \"${value}")
    message(FATAL_ERROR "${EXE}: the version resource lacks ${value}")
  endif()
endforeach()

# The banner the program prints names the same version.
file(STRINGS ${EXE} banner REGEX "^KOLVA, ver\\. ")
if(NOT banner STREQUAL "KOLVA, ver. ${VERSION}.")
  message(FATAL_ERROR "${EXE}: its banner says '${banner}', "
                      "not version ${VERSION}")
endif()

message(STATUS "${EXE}: manifest asInvoker, ${supported_count} supported "
               "Windows versions; version resource ${VERSION}")
