# Executables a browser or an administrator starts once per use load as little
# as possible: ostrela_fast_start(<target> [ORDER_FILE <file>]).
#
# - Linked statically (no dynamic loader, no relocation of libc at each start),
#   with every function and object in a section of its own so that the linker
#   leaves out what the program never calls.
# - With ORDER_FILE, the functions and data a cold start touches
#   (scripts/startup_order.py) are placed side by side at the start of their
#   sections by lld, so that a start touches a few dozen pages instead of a
#   hundred or more.
# - A static program must need neither NSS nor dlopen: no getpwnam/getpwuid,
#   no getaddrinfo, no iconv, no locales by name. glibc's link warning for such
#   a call fails the build where warnings are errors (see the glibc link check).
#
# Sanitizer builds link as usual: the sanitizers' runtimes are shared libraries.

if(NOT OSTRELA_SANITIZE)
  add_compile_options(-ffunction-sections -fdata-sections)
endif()

include(CheckLinkerFlag)
check_linker_flag(CXX "-fuse-ld=lld" OSTRELA_HAVE_LLD)
option(OSTRELA_STARTUP_ORDER "Link start-up code side by side (needs lld)" ON)
set(_ostrela_static_link -static-pie -Wl,--gc-sections -Wl,-O1)

# The start-up layout: true when `target` is linked by lld in the order of `order_file`.
function(_ostrela_link_in_startup_order target order_file result)
  set(${result} FALSE PARENT_SCOPE)
  if(NOT order_file OR NOT OSTRELA_STARTUP_ORDER)
    return()
  endif()
  if(NOT OSTRELA_HAVE_LLD)
    message(WARNING "lld not found: ${target} is linked without its start-up layout")
    return()
  endif()
  target_link_options(${target} PRIVATE -fuse-ld=lld -Wl,--symbol-ordering-file=${order_file}
                      -Wl,--no-warn-symbol-ordering)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${order_file})
  set(${result} TRUE PARENT_SCOPE)
endfunction()

# The glibc link check. lld does not act on glibc's link warnings, GNU ld does:
# a program linked by lld is linked once more by GNU ld, as
# <target>-glibc-link-check, only for those warnings.
function(_ostrela_check_glibc_link_warnings target linked_by_lld)
  if(NOT OSTRELA_WERROR)
    return()
  endif()
  if(NOT linked_by_lld)
    target_link_options(${target} PRIVATE -Wl,--fatal-warnings)
    return()
  endif()
  get_target_property(sources ${target} SOURCES)
  get_target_property(libraries ${target} LINK_LIBRARIES)
  add_executable(${target}-glibc-link-check ${sources})
  target_link_libraries(${target}-glibc-link-check PRIVATE ${libraries})
  target_link_options(${target}-glibc-link-check PRIVATE ${_ostrela_static_link}
                      -Wl,--fatal-warnings)
endfunction()

function(ostrela_fast_start target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "ORDER_FILE" "")
  if(OSTRELA_SANITIZE)
    return()
  endif()
  target_link_options(${target} PRIVATE ${_ostrela_static_link})
  _ostrela_link_in_startup_order(${target} "${arg_ORDER_FILE}" linked_by_lld)
  _ostrela_check_glibc_link_warnings(${target} ${linked_by_lld})
endfunction()
