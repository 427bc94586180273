# Installs the Python package with pip into a private folder (no network, no build isolation) and imports it there.
file(REMOVE_RECURSE ${WORK_DIR})
file(COPY ${SOURCE}/ DESTINATION ${WORK_DIR}/src PATTERN __pycache__ EXCLUDE)
execute_process(COMMAND ${PYTHON} -m pip install --no-build-isolation --no-deps --no-index --disable-pip-version-check
        --target ${WORK_DIR}/site ${WORK_DIR}/src
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pip install failed: ${rc}\n${out}\n${err}")
endif()
set(ENV{PYTHONPATH} ${WORK_DIR}/site)
execute_process(COMMAND ${PYTHON} -c "import orvikview, sys; print(orvikview.__version__, orvikview.__file__)"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "${WORK_DIR}/site")
    message(FATAL_ERROR "the installed package does not import: ${rc}\n${out}\n${err}")
endif()
message(STATUS "installed: ${out}")
