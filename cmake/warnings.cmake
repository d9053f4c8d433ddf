# Compiler settings shared by every target of ours.
set(UPDATER_WARNINGS -Wall -Wextra -Wshadow -Wcast-align -Wswitch-enum -Wpointer-arith
    -Wformat=2 -Wundef -Wwrite-strings -Wmissing-declarations -Wvla)
if(UPDATER_WERROR)
  list(APPEND UPDATER_WARNINGS -Werror)
endif()

# Sources are UTF-8; narrow literals become cp932 where the compiler can do it
# (gcc, mingw). The product's own texts come from the generated table, so a
# compiler without it (clang, for fuzzing) still builds the same bytes.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(UPDATER_CHARSET -finput-charset=UTF-8 -fexec-charset=CP932)
else()
  set(UPDATER_CHARSET)
endif()

if(UPDATER_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(UPDATER_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

function(updater_warnings target)
  target_compile_options(${target} PRIVATE ${UPDATER_WARNINGS} ${UPDATER_CHARSET})
endfunction()

# The updater itself: no exceptions, no RTTI.
function(updater_product_flags target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
endfunction()
