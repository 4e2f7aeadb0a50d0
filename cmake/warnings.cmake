# Warnings for every target of the project; CI turns them into errors.
option(QUENBY_WERROR "Treat warnings as errors" OFF)
option(QUENBY_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

function(quenby_target_options target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wconversion -Wsign-conversion)
    if(QUENBY_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    if(QUENBY_SANITIZE)
        target_compile_options(${target} PRIVATE -fsanitize=address,undefined
                                                 -fno-omit-frame-pointer -fno-sanitize-recover=all)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
endfunction()
