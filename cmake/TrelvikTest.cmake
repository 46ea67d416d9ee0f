# trelvik_add_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT s] [LABELS ...])
# One QtTest executable per test file, run headless against a private home.
# The sanitizer pass of .ci/run runs the tests labelled "sanitize".
function(trelvik_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} trelvik_testsupport Qt6::Test trelvik_warnings)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(TRELVIK_SANITIZE)
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * 3") # instrumented code runs slower
  endif()
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    # No test reaches the desktop's own keyring: only a private one it starts.
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false;DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/trelvik-test-bus")
endfunction()
