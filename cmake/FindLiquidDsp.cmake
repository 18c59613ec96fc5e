# liquid-dsp (MIT), the plot's filter design and spectra: Debian's libliquid-dev, or on Windows
# a release built into LIQUID_DSP_ROOT (include/liquid/liquid.h, lib/). Defines LiquidDsp::liquid.
#
# The compile-only Windows check (scripts/check-windows) has no Windows build of it: it gets a
# copy of the host's header alone in a folder of its own, never /usr/include as a whole, and
# nothing to link, as it links nothing.
set(LIQUID_DSP_ROOT "" CACHE PATH "Where a liquid-dsp build for this platform is installed")

if(CMAKE_CROSSCOMPILING AND NOT LIQUID_DSP_ROOT)
    find_file(LiquidDsp_HOST_HEADER liquid.h PATHS /usr/include/liquid NO_DEFAULT_PATH
              NO_CMAKE_FIND_ROOT_PATH)
    if(LiquidDsp_HOST_HEADER)
        set(LiquidDsp_INCLUDE_DIR "${CMAKE_BINARY_DIR}/liquid-dsp-headers")
        file(COPY "${LiquidDsp_HOST_HEADER}" DESTINATION "${LiquidDsp_INCLUDE_DIR}/liquid")
        include(FindPackageHandleStandardArgs)
        find_package_handle_standard_args(LiquidDsp REQUIRED_VARS LiquidDsp_INCLUDE_DIR)
        if(NOT TARGET LiquidDsp::liquid)
            add_library(LiquidDsp::liquid INTERFACE IMPORTED)
            set_target_properties(LiquidDsp::liquid PROPERTIES
                INTERFACE_INCLUDE_DIRECTORIES "${LiquidDsp_INCLUDE_DIR}")
        endif()
        return()
    endif()
endif()

find_path(LiquidDsp_INCLUDE_DIR liquid/liquid.h HINTS "${LIQUID_DSP_ROOT}/include")
find_library(LiquidDsp_LIBRARY NAMES liquid libliquid HINTS "${LIQUID_DSP_ROOT}/lib")
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(LiquidDsp REQUIRED_VARS LiquidDsp_LIBRARY LiquidDsp_INCLUDE_DIR)
if(LiquidDsp_FOUND AND NOT TARGET LiquidDsp::liquid)
    add_library(LiquidDsp::liquid UNKNOWN IMPORTED)
    set_target_properties(LiquidDsp::liquid PROPERTIES
        IMPORTED_LOCATION "${LiquidDsp_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${LiquidDsp_INCLUDE_DIR}")
endif()
