# Checks a built KOLVA.exe: cmake -DOBJDUMP=... -DEXE=... -DFORMAT=pei-i386 -P
# check_windows_exe.cmake. Fails unless the file has the PE format FORMAT, runs
# in the console subsystem and imports nothing but DLLs that every Windows has.
cmake_minimum_required(VERSION 3.25)

foreach(variable OBJDUMP EXE FORMAT)
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
