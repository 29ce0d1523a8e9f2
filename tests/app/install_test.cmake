# Installs the build into a fresh prefix and runs the installed programs.
#   cmake -DBUILD_DIR=<build> -DPREFIX=<empty dir> -DWITH_WINDOW=ON|OFF -P install_test.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "install failed (${code}):\n${out}${err}")
endif()

include(GNUInstallDirs)
set(expected
    ${CMAKE_INSTALL_BINDIR}/landuse-headless
    ${CMAKE_INSTALL_DATADIR}/applications/landuse.desktop
    ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps/landuse.svg
    ${CMAKE_INSTALL_DATADIR}/doc/landuse/README.md)
if(WITH_WINDOW)
  list(APPEND expected ${CMAKE_INSTALL_BINDIR}/landuse)
endif()
foreach(path IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()

file(READ "${PREFIX}/${CMAKE_INSTALL_DATADIR}/applications/landuse.desktop" desktop)
foreach(line "Exec=landuse" "Icon=landuse" "Categories=Science;Education;")
  string(FIND "${desktop}" "\n${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the desktop file lacks ${line}")
  endif()
endforeach()

execute_process(COMMAND "${PREFIX}/${CMAKE_INSTALL_BINDIR}/landuse-headless" --steps 2
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
if(NOT code EQUAL 0 OR NOT out MATCHES "^step,agents,[^\n]*\n1,[^\n]*\n2,[^\n]*\n$")
  message(FATAL_ERROR "the installed runner failed (${code}):\n${out}${err}")
endif()
if(WITH_WINDOW)
  execute_process(COMMAND "${PREFIX}/${CMAKE_INSTALL_BINDIR}/landuse" --version
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  if(NOT code EQUAL 0 OR NOT out MATCHES "^landuse ")
    message(FATAL_ERROR "the installed window program failed (${code}):\n${out}${err}")
  endif()
endif()
file(REMOVE_RECURSE "${PREFIX}")
