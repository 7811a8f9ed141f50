# Debian's hardening, the one every Debian package is built with: Quorvale
# reads untrusted device strings and tool output. The flags are those that
# dpkg-buildflags gives with DEB_BUILD_MAINT_OPTIONS=hardening=+all, asked when
# CMake configures so that they follow the machine's dpkg; where there is no
# dpkg-buildflags, the list it gives on Debian 12.
#
#   quorvale_harden(FORTIFY ON|OFF)
#
# FORTIFY OFF is for sanitizer builds: AddressSanitizer and ThreadSanitizer
# intercept memcpy, strcpy and the like to check every access, and glibc's
# fortified __*_chk versions would route those calls past the interceptors.
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

function(quorvale_harden)
  cmake_parse_arguments(ARG "" "FORTIFY" "" ${ARGN})

  set(cppflags -Wdate-time -D_FORTIFY_SOURCE=2)
  set(cxxflags -fstack-protector-strong -Wformat -Werror=format-security)
  set(ldflags -Wl,-z,relro -Wl,-z,now)
  find_program(QUORVALE_DPKG_BUILDFLAGS dpkg-buildflags)
  if(QUORVALE_DPKG_BUILDFLAGS)
    foreach(kind cppflags cxxflags ldflags)
      string(TOUPPER ${kind} name)
      execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                              ${QUORVALE_DPKG_BUILDFLAGS} --get ${name}
                      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
      separate_arguments(flags UNIX_COMMAND "${flags}")
      # The build type chooses optimisation and debug information, and the
      # prefix maps only rename this folder inside the debug information.
      list(FILTER flags EXCLUDE REGEX "^-(O.*|g.*|f[a-z]+-prefix-map=.*)$")
      set(${kind} ${flags})
    endforeach()
  endif()

  set(fortify ${cppflags})
  list(FILTER fortify INCLUDE REGEX "^-D_FORTIFY_SOURCE")
  list(FILTER cppflags EXCLUDE REGEX "^-D_FORTIFY_SOURCE")
  # Level 3 where compiler and C library have it (GCC 12, glibc 2.34 on): it
  # also checks buffers whose size is known only at run time, such as the
  # rest of a stack buffer being filled piece by piece; level 2, Debian 12's
  # default, lets those calls through unchecked.
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_FLAGS "-O2 -D_FORTIFY_SOURCE=3")
  check_cxx_source_compiles("#include <unistd.h>
    #if !defined(__USE_FORTIFY_LEVEL) || __USE_FORTIFY_LEVEL < 3
    #error no fortify level 3
    #endif
    int main() { return 0; }" QUORVALE_HAVE_FORTIFY_3)
  unset(CMAKE_REQUIRED_FLAGS)
  if(QUORVALE_HAVE_FORTIFY_3)
    list(TRANSFORM fortify REPLACE "^-D_FORTIFY_SOURCE=.*" "-D_FORTIFY_SOURCE=3")
  endif()
  add_compile_options(${cppflags} ${cxxflags})
  # glibc's checked functions need the optimiser: at -O0 glibc only emits a
  # warning saying so, which -Werror turns into an error. Debug builds go
  # without them, as -O0 is for the debugger.
  if(ARG_FORTIFY)
    foreach(flag ${fortify})
      add_compile_options($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:${flag}>)
    endforeach()
  endif()

  # Control-flow protection (CET on x86): Debian 12's dpkg-buildflags does
  # not give it yet, later ones do.
  if(NOT "-fcf-protection" IN_LIST cxxflags)
    check_cxx_compiler_flag(-fcf-protection QUORVALE_HAVE_CF_PROTECTION)
    if(QUORVALE_HAVE_CF_PROTECTION)
      add_compile_options(-fcf-protection)
    endif()
  endif()

  add_link_options(${ldflags})

  # Position-independent executables, so that the program loads at a random
  # address; Debian's compilers make them by default, this says so to others.
  check_pie_supported(LANGUAGES CXX)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON PARENT_SCOPE)
endfunction()
