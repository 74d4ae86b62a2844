# Plays two seconds of the test chord twenty times faster than real time and
# checks that the demo succeeds and leaves a recording behind. EMULATOR runs
# a cross-built demo (empty for a native one).
file(REMOVE ${OUTPUT})
execute_process(
  COMMAND ${EMULATOR} ${DEMO} --speed 20 --seconds 2 --out ${OUTPUT}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "zv_demo_player exited with ${result}")
endif()
if(NOT EXISTS ${OUTPUT})
  message(FATAL_ERROR "zv_demo_player left no recording at ${OUTPUT}")
endif()
file(SIZE ${OUTPUT} size)
# More than the 44-byte header: the device played something.
if(size LESS_EQUAL 44)
  message(FATAL_ERROR "the recording at ${OUTPUT} holds no audio")
endif()
