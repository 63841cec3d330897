# Fails when a source includes a header of a higher layer. Run by the build
# (target check_layers) with ROOT set to the source tree and LAYERS to the
# folders from the top layer down, joined by commas; folders joined by + share
# a layer but may not include each other. A file belongs to the longest listed folder
# its path starts with.
cmake_minimum_required(VERSION 3.25)

set(rank 0)
set(folders "")
string(REPLACE "," ";" layers "${LAYERS}")
foreach(entry IN LISTS layers)
    string(REPLACE "+" ";" members "${entry}")
    foreach(folder IN LISTS members)
        list(APPEND folders ${folder})
        set(rank_of_${folder} ${rank})
    endforeach()
    math(EXPR rank "${rank} + 1")
endforeach()

# The listed folder a path (relative to ROOT) belongs to, or "" for none.
function(folder_of path out)
    set(best "")
    foreach(folder IN LISTS folders)
        string(LENGTH "${folder}" length)
        string(SUBSTRING "${path}" 0 ${length} head)
        string(LENGTH "${best}" best_length)
        if(head STREQUAL folder AND path MATCHES "^${folder}/" AND length GREATER best_length)
            set(best ${folder})
        endif()
    endforeach()
    set(${out} "${best}" PARENT_SCOPE)
endfunction()

set(problems "")
foreach(folder IN LISTS folders)
    file(GLOB_RECURSE sources RELATIVE "${ROOT}" "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
    foreach(source IN LISTS sources)
        folder_of("${source}" from)
        if(NOT from STREQUAL folder)
            continue()  # a sub-folder listed on its own is checked as that one
        endif()
        file(STRINGS "${ROOT}/${source}" includes REGEX "^#include \"[^\"]+\"")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
            folder_of("${header}" to)
            if(to STREQUAL "" OR to STREQUAL from)
                continue()
            endif()
            # A lower layer has a higher rank number.
            if(NOT rank_of_${to} GREATER rank_of_${from})
                list(APPEND problems "${source} includes ${header}, which is not below ${from}/")
            endif()
        endforeach()
    endforeach()
endforeach()

if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "includes that point up or sideways:\n  ${text}")
endif()
