# Floating-point hygiene of the build.
#
# The numerics are written for IEEE 754 double arithmetic as the source states
# it: no reassociation, no reciprocal rewriting, no contraction into fused
# multiply-adds, NaN and infinity honoured, the IEEE exception flags raised
# where the operations raise them (the flame solvers report them). Options that
# relax any of this change results; -ffast-math, -Ofast and
# -funsafe-math-optimizations on the link line also pull in crtfastmath.o,
# whose constructor sets flush-to-zero and denormals-are-zero for the whole
# process that loads the extension (NumPy's 2.2e-308 / 4 becomes 0.0).
# Such options are refused at configure time, wherever they come from:
# CMAKE_CXX_FLAGS* (the environment's CXXFLAGS ends up there), the linker flags
# CMAKE_*_LINKER_FLAGS* (LDFLAGS), or arguments given with the compiler (CXX).

# Options that relax IEEE semantics or link the flush-to-zero start-up code:
# GCC and Clang spellings, Clang's floating-point models, Intel's and MSVC's.
set(FUMIVEX2_UNSAFE_FP_PATTERNS
  "^-Ofast$"
  "^-ffast-math$"
  "^-funsafe-math-optimizations$"
  "^-fassociative-math$"
  "^-freciprocal-math$"
  "^-ffinite-math-only$"
  "^-fno-signed-zeros$"
  "^-fno-trapping-math$"
  "^-fno-honor-nans$"
  "^-fno-honor-infinities$"
  "^-fapprox-func$"
  "^-ffp-contract=fast"
  "^-ffp-model=(fast|aggressive)$"
  "^-fp-model[=:]?fast"
  "^-mdaz-ftz$"
  "^[-/]fp:fast")

# The options of `flags` (one command-line string) that the patterns above
# refuse, in `out`. Intel's two-word form "-fp-model fast" is read as one.
function(fumivex2_unsafe_fp_options flags out)
  separate_arguments(words UNIX_COMMAND "${flags}")
  set(found "")
  set(previous "")
  foreach(word IN LISTS words)
    set(candidate "${word}")
    if(previous STREQUAL "-fp-model")
      set(candidate "-fp-model=${word}")
    endif()
    foreach(pattern IN LISTS FUMIVEX2_UNSAFE_FP_PATTERNS)
      if(candidate MATCHES "${pattern}")
        list(APPEND found "${candidate}")
        break()
      endif()
    endforeach()
    set(previous "${word}")
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# The configurations this build tree can build: CMAKE_BUILD_TYPE, or every
# configuration of a multi-configuration generator. Upper case, in `out`.
function(fumivex2_build_configurations out)
  get_property(multi GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
  if(multi)
    set(configs ${CMAKE_CONFIGURATION_TYPES})
  else()
    set(configs ${CMAKE_BUILD_TYPE})
  endif()
  set(upper "")
  foreach(c IN LISTS configs)
    string(TOUPPER "${c}" u)
    list(APPEND upper "${u}")
  endforeach()
  set(${out} "${upper}" PARENT_SCOPE)
endfunction()

# Stops the configuration with FATAL_ERROR when any compile or link flag
# variable of the C++ build holds an option that relaxes IEEE arithmetic.
function(fumivex2_refuse_unsafe_fp_flags)
  fumivex2_build_configurations(configs)
  set(variables CMAKE_CXX_FLAGS CMAKE_CXX_COMPILER_ARG1)
  foreach(kind EXE SHARED MODULE STATIC)
    list(APPEND variables CMAKE_${kind}_LINKER_FLAGS)
  endforeach()
  foreach(c IN LISTS configs)
    list(APPEND variables CMAKE_CXX_FLAGS_${c})
    foreach(kind EXE SHARED MODULE STATIC)
      list(APPEND variables CMAKE_${kind}_LINKER_FLAGS_${c})
    endforeach()
  endforeach()
  set(report "")
  foreach(v IN LISTS variables)
    fumivex2_unsafe_fp_options("${${v}}" bad)
    if(bad)
      list(JOIN bad " " bad_text)
      string(APPEND report "\n  ${v} = \"${${v}}\"  (refused: ${bad_text})")
    endif()
  endforeach()
  if(report)
    message(FATAL_ERROR
      "fumivex2 must be built with IEEE floating-point semantics; these flags relax them:"
      "${report}\n"
      "Fast-math style options change the computed numbers, and on the link line they add "
      "start-up code that sets flush-to-zero and denormals-are-zero for every program that "
      "imports the extension. Remove them (check the CXXFLAGS and LDFLAGS environment "
      "variables and the -D options given to CMake or pip's --config-settings), delete the "
      "build directory's CMakeCache.txt, and configure again.")
  endif()
endfunction()
