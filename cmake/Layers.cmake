# One static library per layer, built from every source file in the layer's folder.
find_package(Threads REQUIRED)

function(tessoral_layer name)
  file(GLOB_RECURSE _sources CONFIGURE_DEPENDS
       ${CMAKE_SOURCE_DIR}/${name}/*.cpp ${CMAKE_SOURCE_DIR}/${name}/*.h)
  add_library(tessoral_${name} STATIC ${_sources})
  target_include_directories(tessoral_${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(tessoral_${name} PUBLIC ${ARGN})
endfunction()

# One GoogleTest executable per layer from tests/<layer>/*.cpp and tests/support.
function(tessoral_layer_tests layer)
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${layer}/*.cpp)
  file(GLOB _support CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
  if(NOT _tests)
    return()
  endif()
  add_executable(tessoral_${layer}_tests ${_tests} ${_support})
  target_include_directories(tessoral_${layer}_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(tessoral_${layer}_tests PRIVATE tessoral_${layer} GTest::gtest GTest::gmock GTest::gtest_main ${ARGN})
  target_compile_definitions(tessoral_${layer}_tests PRIVATE
    TESSORAL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(tessoral_${layer}_tests
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "TESSORAL_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()
