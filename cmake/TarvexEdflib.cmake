# EDFlib, which writes EDF+ and BDF+, as the target tarvex_edflib: the system's (Debian's
# libedf-dev, linked statically so that the package needs nothing more), or else built from its
# sources in TARVEX_EDFLIB_SOURCE (edflib.c and edflib.h of a release, as the Windows workflow
# fetches them). TARVEX_EDFLIB_HEADER names a header alone, for a build that only compiles
# (scripts/check-windows): its folder is copied, so that the compiler sees no other system header.
if(TARVEX_EDFLIB_HEADER)
    file(COPY ${TARVEX_EDFLIB_HEADER} DESTINATION ${CMAKE_BINARY_DIR}/edflib-header)
    add_library(tarvex_edflib INTERFACE)
    target_include_directories(tarvex_edflib SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/edflib-header)
    return()
endif()

find_path(TARVEX_EDFLIB_INCLUDE_DIR edflib.h)
find_library(TARVEX_EDFLIB_LIBRARY NAMES libedf.a edf)
if(TARVEX_EDFLIB_INCLUDE_DIR AND TARVEX_EDFLIB_LIBRARY)
    add_library(tarvex_edflib INTERFACE)
    target_include_directories(tarvex_edflib SYSTEM INTERFACE ${TARVEX_EDFLIB_INCLUDE_DIR})
    target_link_libraries(tarvex_edflib INTERFACE ${TARVEX_EDFLIB_LIBRARY})
elseif(TARVEX_EDFLIB_SOURCE)
    enable_language(C)
    add_library(tarvex_edflib STATIC ${TARVEX_EDFLIB_SOURCE}/edflib.c)
    target_include_directories(tarvex_edflib SYSTEM PUBLIC ${TARVEX_EDFLIB_SOURCE})
    # Files beyond 2 GB; the library's own warnings are not ours to fix.
    target_compile_definitions(tarvex_edflib PRIVATE _LARGEFILE64_SOURCE _LARGEFILE_SOURCE)
    set_target_properties(tarvex_edflib PROPERTIES C_STANDARD 99 AUTOMOC OFF COMPILE_WARNING_AS_ERROR OFF)
    if(NOT MSVC)
        target_compile_options(tarvex_edflib PRIVATE -w)
    endif()
else()
    message(FATAL_ERROR "EDFlib not found: install libedf-dev, or set TARVEX_EDFLIB_SOURCE to the "
                        "folder of its edflib.c and edflib.h")
endif()
