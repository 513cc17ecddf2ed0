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
function(ostrela_fast_start target)
  if(NOT OSTRELA_SANITIZE)
    target_link_options(${target} PRIVATE -static -Wl,--gc-sections -Wl,-O1)
    if(OSTRELA_WERROR)
      target_link_options(${target} PRIVATE -Wl,--fatal-warnings)
    endif()
  endif()
endfunction()

if(OSTRELA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT OSTRELA_SANITIZE)
    message(FATAL_ERROR "OSTRELA_FUZZ needs clang and OSTRELA_SANITIZE (e.g. address;undefined)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
