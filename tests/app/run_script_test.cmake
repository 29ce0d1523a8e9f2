# scripts/run.sh in a copy of the tree with stand-ins for the package installer,
# cmake and the programs: without a display it builds the runner alone, and its
# stdout holds the runner's CSV only.   cmake -DSOURCE_DIR=<tree> -DWORK_DIR=<dir> -P run_script_test.cmake
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/tree/scripts ${WORK_DIR}/tree/build/app ${WORK_DIR}/bin)
file(COPY ${SOURCE_DIR}/scripts/run.sh DESTINATION ${WORK_DIR}/tree/scripts)
file(WRITE ${WORK_DIR}/tree/build/CMakeCache.txt "LANDUSE_BUILD_UI:BOOL=ON\n")
function(stand_in path text)
  file(WRITE ${path} "#!/bin/sh\n${text}\n")
  file(CHMOD ${path} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endfunction()
stand_in(${WORK_DIR}/tree/scripts/install_packages.sh "echo installing packages")
stand_in(${WORK_DIR}/tree/scripts/build.sh "echo building everything; echo everything >> ${WORK_DIR}/built")
stand_in(${WORK_DIR}/bin/cmake "echo cmake \"$@\"; echo \"$@\" >> ${WORK_DIR}/built")
stand_in(${WORK_DIR}/tree/build/app/landuse-headless "echo step,agents")

execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                        "PATH=${WORK_DIR}/bin:$ENV{PATH}" bash ${WORK_DIR}/tree/scripts/run.sh
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "run.sh exited ${code}\n${out}${err}")
endif()
if(NOT out STREQUAL "step,agents\n")
  message(FATAL_ERROR "run.sh's stdout holds more than the runner's CSV:\n${out}")
endif()
file(READ ${WORK_DIR}/built built)
if(NOT built MATCHES "--build build --target landuse-headless -j[0-9]+\n$" OR built MATCHES "everything")
  message(FATAL_ERROR "run.sh built more than the runner:\n${built}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
