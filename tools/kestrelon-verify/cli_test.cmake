# Runs kestrelon-verify offline and checks its output and its argument errors.
set(ENV{KESTRELON_ONLINE} 0)

execute_process(COMMAND ${TOOL} --timeout 1 Someone@Example.TEST postmaster
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
set(expected "exists\tSomeone@Example.TEST\nexists\tpostmaster\n")
if(NOT rc EQUAL 0 OR NOT out STREQUAL expected)
  message(FATAL_ERROR "offline run: rc=${rc} output=[${out}]")
endif()

foreach(bad "--timeout;x;a@b.test" "--timeout" "--verbose;a@b.test" "--timeout;1")
  execute_process(COMMAND ${TOOL} ${bad} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 64 OR NOT out STREQUAL "" OR NOT err MATCHES "usage: kestrelon-verify")
    message(FATAL_ERROR "arguments [${bad}]: rc=${rc} output=[${out}] error=[${err}]")
  endif()
endforeach()
