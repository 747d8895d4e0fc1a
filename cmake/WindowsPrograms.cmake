# Builds a small C program for Windows with the mingw-w64 C compiler of one architecture (x86 or
# x64), statically, so that it runs in any Wine prefix of that architecture.
#   add_windows_c_program(TARGET target OUTPUT path SOURCE file ARCH x86|x64 [GUI] [DEPENDS file...])
function(add_windows_c_program)
  cmake_parse_arguments(PROGRAM "GUI" "TARGET;OUTPUT;SOURCE;ARCH" "DEPENDS" ${ARGN})
  if(PROGRAM_ARCH STREQUAL "x64")
    set(compiler x86_64-w64-mingw32-gcc)
  else()
    set(compiler i686-w64-mingw32-gcc)
  endif()
  set(subsystem -mconsole)
  if(PROGRAM_GUI)
    set(subsystem -mwindows)
  endif()
  get_filename_component(directory ${PROGRAM_OUTPUT} DIRECTORY)
  add_custom_command(
    OUTPUT ${PROGRAM_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${directory}
    COMMAND ${compiler} -O2 -Wall -Wextra -Werror -static ${subsystem} -o ${PROGRAM_OUTPUT} ${PROGRAM_SOURCE}
    DEPENDS ${PROGRAM_SOURCE} ${PROGRAM_DEPENDS}
    COMMENT "Building ${PROGRAM_OUTPUT}"
    VERBATIM)
  add_custom_target(${PROGRAM_TARGET} ALL DEPENDS ${PROGRAM_OUTPUT})
endfunction()
