# The updater reaches its file, shell-copy, registry and resource functions
# only by names put together at run time. This check fails when one of our
# executables that carry updater code imports any of them by name anyway.
#
# Included from tests/win32/CMakeLists.txt it adds one test per executable;
# run as a script (cmake -DOBJDUMP=... -DEXE=... -P imports.cmake) it checks
# one executable.

set(UPDATER_HIDDEN_IMPORTS
  CreateFileA WriteFile ReadFile SHFileOperationA RegOpenKeyExA RegQueryValueExA
  RegCloseKey FindResourceA SizeofResource LoadResource LockResource)

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_policy(VERSION 3.25)
  execute_process(COMMAND "${OBJDUMP}" -p "${EXE}"
                  OUTPUT_VARIABLE dump ERROR_VARIABLE problem RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${EXE}: ${problem}")
  endif()
  # Import lines read "<tab>vma<tab>  hint  Name"; a DLL line opens each group.
  string(REGEX MATCHALL "[^\n]+" lines "${dump}")
  set(library "")
  set(found "")
  set(imports 0)
  foreach(line IN LISTS lines)
    if(line MATCHES "DLL Name: (.+)$")
      set(library "${CMAKE_MATCH_1}")
    elseif(library AND line MATCHES "^\t[0-9a-fA-F]+\t +[0-9]+ +([A-Za-z0-9_@?$]+)$")
      math(EXPR imports "${imports} + 1")
      if(CMAKE_MATCH_1 IN_LIST UPDATER_HIDDEN_IMPORTS)
        list(APPEND found "${library}!${CMAKE_MATCH_1}")
      endif()
    endif()
  endforeach()
  if(imports EQUAL 0)
    message(FATAL_ERROR "no imports read from ${EXE}: is the objdump output format new?")
  endif()
  if(found)
    list(JOIN found ", " found)
    message(FATAL_ERROR "${EXE} imports by name: ${found}")
  endif()
  message(STATUS "${EXE}: ${imports} imports, none of the hidden ones")
  return()
endif()

if(CMAKE_OBJDUMP)
  set(UPDATER_OBJDUMP "${CMAKE_OBJDUMP}")
else()
  find_program(UPDATER_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
endif()

# The executables we ship. The test programs are left out: they check the
# resource editor against the system's own loader, so they call
# FindResourceA and its companions by name. Targets that another part of the
# build has not added are skipped.
foreach(target IN ITEMS Updater UpdaterBase qk2)
  if(TARGET ${target})
    add_test(NAME imports_${target}
             COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${UPDATER_OBJDUMP} -DEXE=$<TARGET_FILE:${target}>
                     -P ${CMAKE_CURRENT_LIST_FILE})
  endif()
endforeach()
