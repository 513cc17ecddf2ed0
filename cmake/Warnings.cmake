# Warnings and sanitizers for every target of the project.
add_compile_options(-Wall -Wextra -Wshadow -Wcast-align -Wunused -Wimplicit-fallthrough
                    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor$<SEMICOLON>-Wold-style-cast$<SEMICOLON>-Woverloaded-virtual>)
if(OSTRELA_WERROR)
  add_compile_options(-Werror)
endif()

if(OSTRELA_SANITIZE)
  list(JOIN OSTRELA_SANITIZE "," _ostrela_sanitizers)
  add_compile_options(-fsanitize=${_ostrela_sanitizers} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_ostrela_sanitizers})
  # GCC warns that ThreadSanitizer does not model the fences in Asio's handler
  # invocation; Asio's queues synchronise with mutexes, which it does model.
  if(OSTRELA_SANITIZE STREQUAL "thread" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-tsan)
  endif()
endif()

# Every function and object in a section of its own, so that the linker can
# leave out what an executable never calls (--gc-sections below).
if(NOT OSTRELA_SANITIZE)
  add_compile_options(-ffunction-sections -fdata-sections)
endif()

# Executables a browser starts once per message: load as little as possible.
# Linked statically (no dynamic loader, no relocation of libc at each start),
# so they must need neither NSS nor dlopen: no getpwnam/getpwuid, no
# getaddrinfo, no iconv, no locales by name. glibc's link warning for such a
# call fails the build where warnings are errors.
#
# ORDER_FILE lists the functions and data a cold start touches
# (scripts/startup_order.py): lld then places them side by side at the start of
# their sections, so that a start touches a few dozen pages instead of a
# hundred or more. GNU ld cannot order them, and lld does not act on glibc's
# link warnings: where warnings are errors, the same program is linked once
# more by GNU ld, as <target>-glibc-link-check, only for those warnings.
include(CheckLinkerFlag)
check_linker_flag(CXX "-fuse-ld=lld" OSTRELA_HAVE_LLD)
option(OSTRELA_STARTUP_ORDER "Link start-up code side by side (needs lld)" ON)

function(ostrela_fast_start target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "ORDER_FILE" "")
  if(OSTRELA_SANITIZE)
    return()
  endif()
  set(static_link -static -Wl,--gc-sections -Wl,-O1)
  target_link_options(${target} PRIVATE ${static_link})
  set(linked_by_lld FALSE)
  if(arg_ORDER_FILE AND OSTRELA_STARTUP_ORDER)
    if(OSTRELA_HAVE_LLD)
      target_link_options(${target} PRIVATE -fuse-ld=lld -Wl,--symbol-ordering-file=${arg_ORDER_FILE}
                          -Wl,--no-warn-symbol-ordering)
      set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${arg_ORDER_FILE})
      set(linked_by_lld TRUE)
    else()
      message(WARNING "lld not found: ${target} is linked without its start-up layout")
    endif()
  endif()
  if(NOT OSTRELA_WERROR)
    return()
  endif()
  if(linked_by_lld)
    get_target_property(sources ${target} SOURCES)
    get_target_property(libraries ${target} LINK_LIBRARIES)
    add_executable(${target}-glibc-link-check ${sources})
    target_link_libraries(${target}-glibc-link-check PRIVATE ${libraries})
    target_link_options(${target}-glibc-link-check PRIVATE ${static_link} -Wl,--fatal-warnings)
  else()
    target_link_options(${target} PRIVATE -Wl,--fatal-warnings)
  endif()
endfunction()

if(OSTRELA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT OSTRELA_SANITIZE)
    message(FATAL_ERROR "OSTRELA_FUZZ needs clang and OSTRELA_SANITIZE (e.g. address;undefined)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
