# Warnings for every target of the project; errors where OSTRELA_WERROR is on (CI).
add_compile_options(-Wall -Wextra -Wshadow -Wcast-align -Wunused -Wimplicit-fallthrough
                    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor$<SEMICOLON>-Wold-style-cast$<SEMICOLON>-Woverloaded-virtual>)
if(OSTRELA_WERROR)
  add_compile_options(-Werror)
endif()
