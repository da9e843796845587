# Runs a fuzz target briefly: its work folder is emptied first, so that the
# fixed seed meets the same inputs every time; the seeds folder is optional.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
separate_arguments(args UNIX_COMMAND "${ARGS}")
set(corpus ${WORK})
if(SEEDS)
  list(APPEND corpus ${SEEDS})
endif()
execute_process(COMMAND ${FUZZER} ${args} ${corpus} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} ended with ${result}")
endif()
