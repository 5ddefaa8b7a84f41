# build_info.json: how the extension was built, as CMake hands it to the tools.
#
#   build_type      the configuration built (Release, RelWithDebInfo, ...)
#   compiler        compiler id and version; compiler_path the program
#   cxx_flags       every option on the extension's compile lines, in their
#                   order: CMAKE_CXX_FLAGS, CMAKE_CXX_FLAGS_<CONFIG>, then the
#                   target's effective compile options (its own, the
#                   directory's and those its link dependencies pass on)
#   core_cxx_flags  the same for the numeric core library
#   link_flags      the options on the extension's link line: the language
#                   flags (CMake passes them to the link too), the module
#                   linker flags of the configuration, the target's link options
#   cxx_standard    the C++ standard both targets are compiled for (CMake adds
#                   its -std option, position-independent code and the
#                   visibility preset to the compile lines itself)
#   sanitizers      "address,undefined" or "none"
#   python, numpy   the interpreter and the NumPy headers built against
#
# The per-target options are generator expressions, so the file is written at
# generation time, one per configuration.

# `text` escaped for a JSON string inside a generator expression's value.
function(_fumivex2_json_genex_escape text out)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE ">" "$<ANGLE-R>" text "${text}")
  string(REPLACE "," "$<COMMA>" text "${text}")
  string(REPLACE ";" "$<SEMICOLON>" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# A generator expression giving the value of the variable <prefix>_<CONFIG>
# of the configuration being generated, JSON-escaped.
function(_fumivex2_per_config prefix out)
  get_property(multi GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
  if(multi)
    set(configs ${CMAKE_CONFIGURATION_TYPES})
  else()
    set(configs ${CMAKE_BUILD_TYPE})
  endif()
  set(expr "")
  foreach(c IN LISTS configs)
    string(TOUPPER "${c}" u)
    _fumivex2_json_genex_escape("${${prefix}_${u}}" v)
    string(APPEND expr "$<$<CONFIG:${c}>:${v}>")
  endforeach()
  set(${out} "${expr}" PARENT_SCOPE)
endfunction()

# Writes build_info.json for extension target `ext` and core target `core`;
# sets `out_file` to its path (a generator expression for multi-configuration
# generators).
function(fumivex2_write_build_info ext core out_file)
  _fumivex2_json_genex_escape("${CMAKE_CXX_FLAGS}" common)
  _fumivex2_per_config(CMAKE_CXX_FLAGS config)
  _fumivex2_json_genex_escape("${CMAKE_MODULE_LINKER_FLAGS}" module_link)
  _fumivex2_per_config(CMAKE_MODULE_LINKER_FLAGS config_link)
  _fumivex2_json_genex_escape("${CMAKE_CXX_COMPILER}" compiler_path)
  # pieces joined by spaces below, empty ones left out
  set(language_parts "${common};${config}")
  set(ext_options "$<TARGET_PROPERTY:${ext},COMPILE_OPTIONS>")
  set(core_options "$<TARGET_PROPERTY:${core},COMPILE_OPTIONS>")
  set(link_options "$<TARGET_PROPERTY:${ext},LINK_OPTIONS>")
  set(link_parts "${language_parts};${module_link};${config_link};${link_options}")
  if(FUMIVEX2_SANITIZE)
    set(sanitizers "address,undefined")
  else()
    set(sanitizers "none")
  endif()
  get_target_property(standard ${ext} CXX_STANDARD)
  if(NOT standard)
    set(standard "${CMAKE_CXX_STANDARD}")
  endif()
  set(content "{
  \"build_type\": \"$<CONFIG>\",
  \"compiler\": \"${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}\",
  \"compiler_path\": \"${compiler_path}\",
  \"cxx_flags\": \"$<JOIN:$<FILTER:${language_parts};${ext_options},EXCLUDE,^$>, >\",
  \"core_cxx_flags\": \"$<JOIN:$<FILTER:${language_parts};${core_options},EXCLUDE,^$>, >\",
  \"link_flags\": \"$<JOIN:$<FILTER:${link_parts},EXCLUDE,^$>, >\",
  \"cxx_standard\": \"C++${standard}\",
  \"sanitizers\": \"${sanitizers}\",
  \"python\": \"${Python_VERSION}\",
  \"numpy\": \"${Python_NumPy_VERSION}\"
}
")
  get_property(multi GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
  if(multi)
    set(file "${CMAKE_CURRENT_BINARY_DIR}/$<CONFIG>/build_info.json")
  else()
    set(file "${CMAKE_CURRENT_BINARY_DIR}/build_info.json")
  endif()
  file(GENERATE OUTPUT "${file}" CONTENT "${content}")
  set(${out_file} "${file}" PARENT_SCOPE)
endfunction()
