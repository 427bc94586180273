# Builds the Debian package with CPack, checks its control fields and file list, unpacks it into a private folder and
# runs the unpacked programs there. Nothing is installed into the system.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

execute_process(COMMAND ${CPACK_COMMAND} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}/out
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cpack failed: ${rc}\n${out}\n${err}")
endif()
file(GLOB debs ${WORK_DIR}/out/*.deb)
list(LENGTH debs n)
if(NOT n EQUAL 1)
    message(FATAL_ERROR "expected one .deb in ${WORK_DIR}/out, found: ${debs}")
endif()
list(GET debs 0 deb)

function(field name result)
    execute_process(COMMAND dpkg-deb -f ${deb} ${name} OUTPUT_VARIABLE v RESULT_VARIABLE rc
        OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "dpkg-deb -f ${name} failed")
    endif()
    set(${result} "${v}" PARENT_SCOPE)
endfunction()

field(Package pkg)
field(Version ver)
field(Depends deps)
field(Architecture arch)
field(Maintainer maint)
if(NOT pkg STREQUAL "orvik-view")
    message(FATAL_ERROR "Package is \"${pkg}\"")
endif()
if(NOT ver STREQUAL "${EXPECTED_VERSION}")
    message(FATAL_ERROR "Version is \"${ver}\", expected ${EXPECTED_VERSION}")
endif()
if(arch STREQUAL "" OR maint STREQUAL "")
    message(FATAL_ERROR "Architecture or Maintainer missing")
endif()
# dpkg-shlibdeps found the toolkit and the C++ runtime.
foreach(dep libqt5widgets5 libqt5network5 libstdc\\+\\+6 libc6)
    if(NOT deps MATCHES "${dep}")
        message(FATAL_ERROR "Depends lacks ${dep}: ${deps}")
    endif()
endforeach()

execute_process(COMMAND dpkg-deb -c ${deb} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb -c failed")
endif()
foreach(path
        ./usr/bin/orvik-viewer
        ./usr/bin/orvik-simserver
        ./usr/share/orvik-view/colortables/viridis.lut
        ./usr/share/applications/orvik-viewer.desktop
        ./usr/share/icons/hicolor/scalable/apps/orvik-viewer.svg
        ./usr/share/doc/orvik-view/README.md
        ./usr/share/doc/orvik-view/lab-layout.json
        ./usr/share/doc/orvik-view/copyright
        ./usr/include/orvik/framework/gplugin.h
        ./usr/lib/cmake/OrvikView/OrvikViewConfig.cmake)
    string(FIND "${listing}" "${path}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the package lacks ${path}:\n${listing}")
    endif()
endforeach()
if(listing MATCHES "\\./usr/bin/[^\n]*\\.lut")
    message(FATAL_ERROR "colour tables must not be installed beside the programs")
endif()

set(root ${WORK_DIR}/root)
execute_process(COMMAND dpkg-deb -x ${deb} ${root} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb -x failed")
endif()
set(ENV{QT_QPA_PLATFORM} offscreen)
unset(ENV{LD_LIBRARY_PATH})
execute_process(COMMAND ${root}/usr/bin/orvik-viewer --version OUTPUT_VARIABLE out RESULT_VARIABLE rc
    ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "orvik-viewer ${EXPECTED_VERSION}")
    message(FATAL_ERROR "unpacked orvik-viewer --version: ${rc}\n${out}\n${err}")
endif()
execute_process(COMMAND ${root}/usr/bin/orvik-simserver --version OUTPUT_VARIABLE out RESULT_VARIABLE rc
    ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "orvik-simserver ${EXPECTED_VERSION}")
    message(FATAL_ERROR "unpacked orvik-simserver --version: ${rc}\n${out}\n${err}")
endif()
# The unpacked viewer loads the unpacked libraries, not those of the build folder.
execute_process(COMMAND ${root}/usr/bin/orvik-viewer --list-types OUTPUT_VARIABLE out RESULT_VARIABLE rc
    ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "Frame Display")
    message(FATAL_ERROR "unpacked orvik-viewer --list-types: ${rc}\n${out}\n${err}")
endif()
execute_process(COMMAND ldd ${root}/usr/bin/orvik-viewer OUTPUT_VARIABLE out)
if(NOT out MATCHES "${root}/usr/bin/\\.\\./lib/liborvikview")
    message(FATAL_ERROR "the unpacked viewer does not use the unpacked library:\n${out}")
endif()
message(STATUS "package ${deb} checked")
