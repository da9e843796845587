# A library of 10,000 lines (2,000 functions, each calling the one before)
# read and run from a 64 KiB block: the code area and the function table grow
# under the running command, and the chain answers 2000 as from a large block.
# Use: cmake -DRVO=<host> -DWORK=<scratch folder> -P library.cmake
file(MAKE_DIRECTORY "${WORK}")
set(text "")
foreach(k RANGE 1 2000)
  math(EXPR previous "${k} - 1")
  if(k EQUAL 1)
    set(body "r = x + 1;")
  else()
    set(body "r = f${previous}(x) + 1;")
  endif()
  string(APPEND text "function r = f${k}(x)\n% link ${k} of the chain\n${body}\nendfunction\n\n")
endforeach()
file(WRITE "${WORK}/chain.rvl" "${text}")
file(WRITE "${WORK}/run.rvl" "path('${WORK}');\nuse chain\ndisp(f2000(0))\n")

foreach(block 65536 67108864)
  set(ENV{RVO_BLOCK_BYTES} ${block})
  execute_process(COMMAND "${RVO}" run.rvl WORKING_DIRECTORY "${WORK}" OUTPUT_VARIABLE out ERROR_VARIABLE err
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "      2000\n")
    message(FATAL_ERROR "block ${block}: status ${status}, printed\n${out}\nstderr:\n${err}")
  endif()
endforeach()
