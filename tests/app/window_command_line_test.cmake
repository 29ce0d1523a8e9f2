# The window's program where no display exists: --help, --help-all (with Qt's own
# options) and --version answer and exit 0; an unknown argument exits with 64, and
# a start (Qt options included) says why it cannot show the window and exits with
# 69 rather than aborting.   cmake -DPROGRAM=<landuse> -P window_command_line_test.cmake
set(no_display ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM)

function(run_without_display expected_code stream pattern)
  execute_process(COMMAND ${no_display} ${PROGRAM} ${ARGN}
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  if(NOT code STREQUAL "${expected_code}")
    message(FATAL_ERROR "landuse ${ARGN}: exit '${code}', expected ${expected_code}\n${out}${err}")
  endif()
  if(stream STREQUAL "stdout")
    set(text "${out}")
  else()
    set(text "${err}")
  endif()
  if(NOT text MATCHES "${pattern}")
    message(FATAL_ERROR "landuse ${ARGN}: ${stream} does not match '${pattern}':\n${out}${err}")
  endif()
endfunction()

run_without_display(0 stdout "^landuse [0-9]+\\.[0-9]+\\.[0-9]+\n$" --version)
run_without_display(0 stdout "Usage: landuse \\[options\\].*--version" --help)
run_without_display(69 stderr "no display available.*landuse-headless")
run_without_display(0 stdout "--help-all.*-platform <platformName.*-reverse" --help-all)
run_without_display(64 stderr "unknown argument \"--bogus\"" --bogus)
run_without_display(64 stderr "unknown argument \"extra\"" -reverse extra)
run_without_display(69 stderr "no display available" -reverse -platform xcb)
