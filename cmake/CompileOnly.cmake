# Included after project() by the windows-check preset: every target compiles, but executables
# are not linked, as there are no Windows Qt libraries to link against. Their "link" step only
# touches the output file, so that the build still ends and tracks what it did.
set(CMAKE_CXX_LINK_EXECUTABLE "<CMAKE_COMMAND> -E touch <TARGET>")

# A Windows target links a DLL through its import library, which the host's Qt has none of:
# its own library file stands in, as a dependency of the no-op link step.
function(tarvex_stand_in_import_libraries)
    get_directory_property(targets IMPORTED_TARGETS)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "SHARED_LIBRARY")
            get_target_property(configs ${target} IMPORTED_CONFIGURATIONS)
            foreach(config IN LISTS configs)
                get_target_property(location ${target} IMPORTED_LOCATION_${config})
                set_target_properties(${target} PROPERTIES IMPORTED_IMPLIB_${config} "${location}")
            endforeach()
        endif()
    endforeach()
endfunction()
cmake_language(DEFER CALL tarvex_stand_in_import_libraries)
