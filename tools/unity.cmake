# Unity builds: the sources of a target are compiled in batches, each batch one
# translation unit, so the headers that every source includes (the standard
# library's, the runtime's, GoogleTest's) are parsed once per batch rather than
# once per source. This roughly halves the CPU time of a clean build; an
# incremental build recompiles the batch of the changed source.
#
# Names in anonymous namespaces and `static` names are shared by the sources
# of a batch: two sources that define the same one cannot share a batch. Such
# a source is listed in ZUV_UNITY_APART below and is compiled on its own.
option(ZUV_UNITY "Compile each target's sources in batches (unity build)" ON)
set(ZUV_UNITY_BATCH 16 CACHE STRING "Sources per unity batch")

# Sources that define a file-local name another source defines too (the
# natives' sources each have their own small helpers of the same names); and
# the hash function, whose body, seen beside its callers, draws a false
# warning of an uninitialised buffer from GCC.
set(ZUV_UNITY_APART
  evaluator/natives_*.cpp
  evaluator/compiled_build.cpp
  evaluator/compiled_run.cpp
  evaluator/rt_support.cpp
  lexer/serialize/encoder.cpp
  runtime/datatypes/float_format.cpp
  runtime/datatypes/object_path.cpp
  runtime/murmur.cpp
  services/image_geometry.cpp
  tests/unit/actions_test.cpp
  tests/unit/block_edit_test.cpp
  tests/unit/block_test.cpp
  tests/unit/context_test.cpp
  tests/unit/control_test.cpp
  tests/unit/deflate_test.cpp
  tests/unit/float_test.cpp
  tests/unit/function_test.cpp
  tests/unit/integer_test.cpp
  tests/unit/interpreter_test.cpp
  tests/unit/limits_test.cpp
  tests/unit/money_test.cpp
  tests/unit/native_test.cpp
  tests/unit/natives_compare_test.cpp
  tests/unit/natives_eval_test.cpp
  tests/unit/natives_system_test.cpp
  tests/unit/ownership_test.cpp
  tests/unit/path_test.cpp
  tests/unit/percent_test.cpp
  tests/unit/rt_support_test.cpp
  tests/unit/series_test.cpp
  tests/unit/simple_types_test.cpp
  tests/unit/slots_test.cpp
  tests/unit/stats_test.cpp
  tests/unit/string_edit_test.cpp
  tests/unit/time_test.cpp
  tests/unit/tuple_test.cpp
  tests/unit/typeset_test.cpp)

# zuv_unity(target [root]): batches the target's sources when ZUV_UNITY is on;
# the generated sources (byte arrays of the boot texts and image) stay apart.
function(zuv_unity target)
  if(NOT ZUV_UNITY)
    return()
  endif()
  set(root ${CMAKE_SOURCE_DIR})
  if(ARGC GREATER 1)
    set(root ${ARGV1})
  endif()
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${ZUV_UNITY_BATCH})
  # GCC warns of a class of an anonymous namespace used as a base in a file
  # other than the one compiled (meant for headers); in a batch every source
  # but the batch's own file is such a file.
  target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
  get_target_property(sources ${target} SOURCES)
  foreach(source ${sources})
    if(source MATCHES "/generated/")
      set_source_files_properties(${source} TARGET_DIRECTORY ${target} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    endif()
  endforeach()
  foreach(pattern ${ZUV_UNITY_APART})
    file(GLOB apart ${root}/${pattern})
    set_source_files_properties(${apart} TARGET_DIRECTORY ${target} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endforeach()
endfunction()
