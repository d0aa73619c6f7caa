# vl_add_plugin(<target> <module-name> SOURCES ...)
#   A VST 2.x plug-in module: a .dll on Windows, a .so elsewhere, without a "lib" prefix, with
#   only the entry points exported.
function(vl_add_plugin target module_name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS;DEFINITIONS" ${ARGN})
  add_library(${target} MODULE ${P_SOURCES})
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${module_name}
    SUFFIX ${VL_MODULE_SUFFIX}
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_compile_definitions(${target} PRIVATE ${P_DEFINITIONS})
  target_link_libraries(${target} PRIVATE ${P_LIBS})
endfunction()
