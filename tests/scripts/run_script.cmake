# Runs one language script through the console host and compares what it
# prints byte for byte: stdout with NAME.out, stderr with NAME.err when that
# file exists. The exit status must be the number in NAME.status when there
# is one, else 1 (an uncaught error) with NAME.err and 0 without. With
# -DLINES=ON the script is fed to the host's standard input, one command line
# per line.
# With -DBLOCK=<bytes> the host starts with a block of that size and must
# print the same, growing it as the script needs. A NAME.in file is fed to
# the host's standard input while NAME.rvl runs. A NAME.env file holds
# NAME=VALUE lines set in the host's environment (after BLOCK).
# Use: cmake -DRVO=<host> -DSCRIPT=<dir/NAME.rvl or NAME.lines> [-DLINES=ON] [-DBLOCK=<bytes>] -P run_script.cmake
get_filename_component(dir "${SCRIPT}" DIRECTORY)
get_filename_component(file "${SCRIPT}" NAME)
get_filename_component(stem "${SCRIPT}" NAME_WLE)

if(BLOCK)
  set(ENV{RVO_BLOCK_BYTES} "${BLOCK}")
endif()
if(EXISTS "${dir}/${stem}.env")
  file(STRINGS "${dir}/${stem}.env" assignments)
  foreach(assignment ${assignments})
    string(REGEX MATCH "^([A-Z_]+)=(.*)$" matched "${assignment}")
    if(matched)
      set(ENV{${CMAKE_MATCH_1}} "${CMAKE_MATCH_2}")
    endif()
  endforeach()
endif()

if(LINES)
  execute_process(COMMAND "${RVO}" INPUT_FILE "${SCRIPT}" WORKING_DIRECTORY "${dir}"
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
elseif(EXISTS "${dir}/${stem}.in")
  execute_process(COMMAND "${RVO}" "${file}" INPUT_FILE "${dir}/${stem}.in" WORKING_DIRECTORY "${dir}"
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
else()
  execute_process(COMMAND "${RVO}" "${file}" WORKING_DIRECTORY "${dir}"
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
endif()

set(failures "")
if(NOT EXISTS "${dir}/${stem}.out")
  message(FATAL_ERROR "${SCRIPT}: no ${stem}.out beside it")
endif()
file(READ "${dir}/${stem}.out" want_out)
if(NOT out STREQUAL want_out)
  string(APPEND failures "stdout differs\n--- expected\n${want_out}--- got\n${out}---\n")
endif()
set(want_status 0)
if(EXISTS "${dir}/${stem}.err")
  set(want_status 1)
  file(READ "${dir}/${stem}.err" want_err)
  if(NOT err STREQUAL want_err)
    string(APPEND failures "stderr differs\n--- expected\n${want_err}--- got\n${err}---\n")
  endif()
endif()
if(EXISTS "${dir}/${stem}.status")
  file(STRINGS "${dir}/${stem}.status" want_status LIMIT_COUNT 1)
endif()
if(NOT status STREQUAL want_status)
  string(APPEND failures "exit status ${status}, expected ${want_status}; stderr:\n${err}\n")
endif()

if(failures)
  # NOTICE prints the texts as they are; FATAL_ERROR would reflow them.
  message(NOTICE "${SCRIPT}:\n${failures}")
  message(FATAL_ERROR "script output differs")
endif()
