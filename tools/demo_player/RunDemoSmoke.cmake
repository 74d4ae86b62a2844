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

# The engine's cadence options and the tone's measurement, also twenty times
# faster: a bursty, late engine with the target changed twice on the way, the
# cadence changed, a hitch and a device stall.
# Only that the run succeeds and the measurement is printed is checked; what
# the tone measures at this pace says little.
execute_process(
  COMMAND ${EMULATOR} ${DEMO} --speed 20 --seconds 2 --out ${OUTPUT} --tone 997
          --burst 3 --jitter-ms 5 --latency-target 40 --change-target 0.5:60
          --change-target 1.5:0 --sinad-from 0.5 --burst-from 0.6:2 --jitter-from 0.7:2
          --hitch 0.8:100 --stall 1:50
  RESULT_VARIABLE result
  OUTPUT_VARIABLE report)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "zv_demo_player with --tone, --burst and --change-target exited with ${result}:\n${report}")
endif()
if(NOT report MATCHES "target set to 0 ms at" OR NOT report MATCHES "SINAD worst window -?[0-9.]+ dB"
   OR NOT report MATCHES "a 100 ms hitch at 0.8 s" OR NOT report MATCHES "device thread stalls 50 ms")
  message(FATAL_ERROR "zv_demo_player did not report the target changes and the tone's SINAD:\n${report}")
endif()
