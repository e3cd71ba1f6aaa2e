# Cross-check of the package container with an independent encoder: Python's
# zlib writes sample payloads at build time that the C++ tests decode, and
# Python decodes the payload that the C++ tests write.
find_package(Python3 COMPONENTS Interpreter)
if(TARGET project_tests AND Python3_Interpreter_FOUND)
  set(NV_PAYLOAD_DIR ${CMAKE_CURRENT_BINARY_DIR}/payloads)
  set(NV_PAYLOAD_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/make_payload.py)
  add_custom_command(OUTPUT ${NV_PAYLOAD_DIR}/names.txt
    COMMAND Python3::Interpreter ${NV_PAYLOAD_SCRIPT} ${NV_PAYLOAD_DIR}
    DEPENDS ${NV_PAYLOAD_SCRIPT}
    COMMENT "Writing sample payloads with Python's zlib")
  add_custom_target(project_payloads DEPENDS ${NV_PAYLOAD_DIR}/names.txt)
  add_dependencies(project_tests project_payloads)
  target_compile_definitions(project_tests PRIVATE NV_PAYLOAD_DIR="${NV_PAYLOAD_DIR}")

  set(writer "")
  if(NOT WIN32 AND NV_RUN_TESTS)
    set(writer project_tests)
  elseif(NV_WINE_TESTS)
    set(writer project_tests.wine)
  endif()
  if(writer)
    set_tests_properties(${writer} PROPERTIES FIXTURES_SETUP cpp_payload)
    add_test(NAME project_payload.python_decode
      COMMAND ${Python3_EXECUTABLE} ${NV_PAYLOAD_SCRIPT} --check
              ${NV_PAYLOAD_DIR}/cpp_written.payload ${NV_PAYLOAD_DIR}/cpp_written.plain)
    set_tests_properties(project_payload.python_decode PROPERTIES FIXTURES_REQUIRED cpp_payload)
  endif()
endif()
