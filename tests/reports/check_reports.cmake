# Runs profiled.qob with and without the report switches and checks the
# report files. The head of a procedure is stamped too (MAIN on line 7,
# square on line 3); the first stamp of the run charges nothing. Times differ from run to run: the rows' files, procedures,
# lines and counts are compared exactly, the times by their form.
set(T "\t")
set(N "[0-9][0-9,]*")
set(SHARE "[0-9]+\\.[0-9][0-9]%")

function(run_program)
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${WORK})
  file(COPY ${SOURCE}/profiled.qob DESTINATION ${WORK})
  set(ENV{QOB_ROOT} ${WORK}/)
  set(ENV{QOB_REGISTRY} ${WORK}/registry)
  execute_process(COMMAND ${QOB} profiled.qob ${ARGN}
    WORKING_DIRECTORY ${WORK} OUTPUT_VARIABLE out RESULT_VARIABLE rc TIMEOUT 60)
  if(NOT rc EQUAL 0 OR NOT out STREQUAL "14\n")
    message(FATAL_ERROR "profiled.qob ${ARGN}: exit code ${rc}, output:\n${out}")
  endif()
endfunction()

# Lines of a report after its date and time header, which must be there.
function(read_rows report variable)
  if(NOT EXISTS ${WORK}/${report})
    message(FATAL_ERROR "${report} was not written")
  endif()
  file(STRINGS ${WORK}/${report} lines)
  list(POP_FRONT lines header)
  if(NOT header MATCHES "^[0-9][0-9]/[0-9][0-9]/[0-9][0-9][0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9] [AP]M$")
    message(FATAL_ERROR "${report}: header \"${header}\"")
  endif()
  set(${variable} "${lines}" PARENT_SCOPE)
endfunction()

function(expect_rows report rows)
  list(LENGTH rows count)
  list(LENGTH ARGN expected)
  if(NOT count EQUAL expected)
    message(FATAL_ERROR "${report}: ${count} rows, expected ${expected}:\n${rows}")
  endif()
  foreach(index RANGE 1 ${count})
    math(EXPR at "${index} - 1")
    list(GET rows ${at} row)
    list(GET ARGN ${at} pattern)
    if(NOT row MATCHES "^${pattern}$")
      message(FATAL_ERROR "${report} row ${index}: \"${row}\" does not match \"${pattern}\"")
    endif()
  endforeach()
endfunction()

run_program(P Y)
read_rows(profile.txt profile)
expect_rows(profile.txt "${profile}"
  "profiled.qob${T}MAIN${T}7${T}1${T}0${T}0${T}0\\.00%"
  "profiled.qob${T}MAIN${T}8${T}1${T}${N}${T}${N}${T}${SHARE}"
  "profiled.qob${T}SQUARE\\(1,1\\)${T}3${T}3${T}${N}${T}${N}${T}${SHARE}"
  "profiled.qob${T}MAIN${T}10${T}3${T}${N}${T}${N}${T}${SHARE}"
  "profiled.qob${T}MAIN${T}11${T}1${T}${N}${T}${N}${T}${SHARE}"
  "profiled.qob${T}MAIN${T}12${T}1${T}${N}${T}${N}${T}${SHARE}"
  "totals${T}${T}6${T}10${T}${N}${T}${N}${T}(99\\.9[5-9]|100\\.0[0-5])%")
read_rows(memory.txt memory)
expect_rows(memory.txt "${memory}" "totals${T}${T}${T}${T}0")

run_program()
foreach(report profile.txt memory.txt)
  if(EXISTS ${WORK}/${report})
    message(FATAL_ERROR "${report} written without its switch")
  endif()
endforeach()
