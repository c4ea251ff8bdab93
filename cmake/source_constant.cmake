# korvex_source_constant(VAR FILE NAME): the value of the C++ constant NAME
# defined in FILE (`NAME = "text";`, `NAME[] = L"text";` or `NAME = 123;`), so
# that the packages use the names and numbers the programs themselves use.
# A constant that cannot be found stops the configure step.
function(korvex_source_constant var file name)
  file(STRINGS "${file}" lines REGEX "${name}(\\[\\])? = ")
  foreach(line IN LISTS lines)
    if(line MATCHES "${name}(\\[\\])? = L?\"([^\"]+)\";")
      set(value "${CMAKE_MATCH_2}")
    elseif(line MATCHES "${name}(\\[\\])? = ([0-9]+);")
      set(value "${CMAKE_MATCH_2}")
    else()
      continue()
    endif()
    set(${var} "${value}" PARENT_SCOPE)
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
    return()
  endforeach()
  message(FATAL_ERROR "${name} not found in ${file}")
endfunction()
