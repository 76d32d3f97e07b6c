# Runs one QOB program test: copies the program (and its sibling files of the
# same stem) into a fresh work folder, runs it with the real executable there,
# and compares standard output, standard error, the exit code and, when
# <name>.log is present, the compile log "errorlog.txt" (with every "(N ms)"
# read as "(# ms)"). A program that leaves its compiled file <name>.qoc then
# runs a second time from that file, which must give the same standard output
# and exit code; a program expected to end cleanly must leave one. Programs
# run headless (QOB_HEADLESS=1: windows left open are closed once nothing can
# arrive); <name>.input is input for them on the test clock (QOB_INPUT).
# <name>.fixture is a shell command run in the work folder first, which makes
# the files the program reads (QOB_TEST_SOURCE names the program's folder);
# when it exits with 77 a tool it needs is missing, and the test is skipped
# with its output as the reason. <name>.check is a shell command run in the
# work folder after the first run, which must exit with 0.
get_filename_component(dir ${PROGRAM} DIRECTORY)
get_filename_component(name ${PROGRAM} NAME_WE)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(GLOB siblings ${dir}/${name}.*)
file(COPY ${siblings} DESTINATION ${WORK})
if(EXISTS ${dir}/${name}.files)
  file(COPY ${dir}/${name}.files/ DESTINATION ${WORK})
endif()
set(args ${name}.qob)
if(EXISTS ${dir}/${name}.args)
  file(STRINGS ${dir}/${name}.args args)
endif()
# <name>.env: environment settings for the run, one NAME=value a line.
if(EXISTS ${dir}/${name}.env)
  file(STRINGS ${dir}/${name}.env settings)
  foreach(setting IN LISTS settings)
    string(REGEX MATCH "^([^=]+)=(.*)$" matched "${setting}")
    if(matched)
      set(ENV{${CMAKE_MATCH_1}} "${CMAKE_MATCH_2}")
    endif()
  endforeach()
endif()
set(ENV{QOB_TEST_SOURCE} ${dir})
if(EXISTS ${dir}/${name}.fixture)
  file(READ ${dir}/${name}.fixture fixture)
  execute_process(COMMAND sh -c "${fixture}"
    WORKING_DIRECTORY ${WORK}
    OUTPUT_VARIABLE fixture_out ERROR_VARIABLE fixture_out RESULT_VARIABLE fixture_rc)
  if(fixture_rc EQUAL 77)
    message("SKIPPED: ${fixture_out}")
    return()
  elseif(NOT fixture_rc EQUAL 0)
    message(FATAL_ERROR "the fixture of ${name} failed (${fixture_rc}):\n${fixture_out}")
  endif()
endif()
set(ENV{QOB_ROOT} ${WORK}/)
set(ENV{QOB_REGISTRY} ${WORK}/registry)
set(ENV{QOB_HEADLESS} 1)
unset(ENV{QOB_INPUT})
if(EXISTS ${dir}/${name}.input)
  set(ENV{QOB_INPUT} ${WORK}/${name}.input)
endif()
execute_process(COMMAND ${QOB} ${args}
  WORKING_DIRECTORY ${WORK}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc
  TIMEOUT 60)
file(READ ${dir}/${name}.out expected)
set(failed FALSE)
if(NOT out STREQUAL expected)
  message("--- expected stdout\n${expected}--- actual stdout\n${out}---")
  set(failed TRUE)
endif()
if(EXISTS ${dir}/${name}.err)
  file(READ ${dir}/${name}.err expected_err)
  if(NOT err STREQUAL expected_err)
    message("--- expected stderr\n${expected_err}--- actual stderr\n${err}---")
    set(failed TRUE)
  endif()
elseif(err)
  message("--- stderr\n${err}---")
endif()
set(expected_rc 0)
if(EXISTS ${dir}/${name}.rc)
  file(STRINGS ${dir}/${name}.rc expected_rc)
endif()
if(NOT rc STREQUAL expected_rc)
  message("exit code ${rc}, expected ${expected_rc}")
  set(failed TRUE)
endif()
if(EXISTS ${dir}/${name}.log)
  file(READ ${dir}/${name}.log expected_log)
  set(log "")
  if(EXISTS ${WORK}/errorlog.txt)
    file(READ ${WORK}/errorlog.txt log)
  endif()
  string(REGEX REPLACE "\\([0-9,]+ ms\\)" "(# ms)" log "${log}")
  if(NOT log STREQUAL expected_log)
    message("--- expected errorlog.txt\n${expected_log}--- actual errorlog.txt\n${log}---")
    set(failed TRUE)
  endif()
endif()

if(EXISTS ${dir}/${name}.check)
  file(READ ${dir}/${name}.check check)
  execute_process(COMMAND sh -c "${check}"
    WORKING_DIRECTORY ${WORK}
    OUTPUT_VARIABLE check_out ERROR_VARIABLE check_out RESULT_VARIABLE check_rc)
  if(NOT check_rc EQUAL 0)
    message("--- the check of ${name} failed (${check_rc})\n${check_out}---")
    set(failed TRUE)
  endif()
endif()

# The round trip through the compiled file. A run in debug mode (switch D
# among the arguments) writes none.
list(FIND args "D" debug_switch)
set(debug_run FALSE)
if(debug_switch GREATER 0)
  set(debug_run TRUE)
endif()
if(EXISTS ${WORK}/${name}.qoc)
  string(REPLACE "${name}.qob" "${name}.qoc" compiled_args "${args}")
  execute_process(COMMAND ${QOB} ${compiled_args}
    WORKING_DIRECTORY ${WORK}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc
    TIMEOUT 60)
  if(NOT out STREQUAL expected)
    message("--- stdout from ${name}.qoc\n${out}--- expected\n${expected}---")
    set(failed TRUE)
  endif()
  if(NOT rc STREQUAL expected_rc)
    message("exit code ${rc} from ${name}.qoc, expected ${expected_rc}\n${err}")
    set(failed TRUE)
  endif()
elseif(expected_rc STREQUAL "0" AND NOT debug_run)
  message("no compiled file ${name}.qoc was written")
  set(failed TRUE)
endif()
if(failed)
  message(FATAL_ERROR "program test ${name} failed")
endif()
