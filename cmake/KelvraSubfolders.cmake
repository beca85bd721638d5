# Adds every direct subfolder of the current source folder that has a
# CMakeLists.txt, in name order: one folder per test area, tool or benchmark.
function(kelvra_add_subfolders)
    file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT children)
    foreach(child IN LISTS children)
        if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()
