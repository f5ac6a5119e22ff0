# Fails unless a Windows program imports only DLLs that every Windows system
# ships. cmake -DOBJDUMP=... -DPROGRAM=file.exe -P check_imports.cmake, or
# -DLISTING=file with the output of objdump -p to check instead.
cmake_minimum_required(VERSION 3.25)
set(allowed
  kernel32 user32 gdi32 comctl32 comdlg32 advapi32 shell32 shlwapi ole32 oleaut32
  uxtheme imm32 version winmm ws2_32 bcrypt ntdll msvcrt)
if(DEFINED LISTING)
  file(READ "${LISTING}" listing)
else()
  execute_process(COMMAND "${OBJDUMP}" -p "${PROGRAM}"
    OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump cannot read ${PROGRAM}")
  endif()
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${listing}")
if(NOT names)
  message(FATAL_ERROR "no import table found")
endif()
set(refused)
foreach(entry IN LISTS names)
  string(REGEX REPLACE "^DLL Name: *" "" dll "${entry}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" lower)
  string(REGEX REPLACE "\\.dll$" "" stem "${lower}")
  # The C runtime's API sets (api-ms-win-crt-*) are part of Windows too.
  if(stem IN_LIST allowed OR stem MATCHES "^api-ms-win-")
    message(STATUS "imports ${dll}")
  else()
    list(APPEND refused "${dll}")
  endif()
endforeach()
if(refused)
  message(FATAL_ERROR "imports DLLs that Windows does not ship: ${refused}")
endif()
