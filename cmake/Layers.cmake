# SPDX-License-Identifier: GPL-2.0-or-later
# One static library per layer of src/, built so that the layer order is a
# fact of the build rather than a convention:
#  - each layer compiles against an include view (a folder of symlinks under
#    the build tree, PRIVATE to its target) that holds only its own folder and
#    the layers below it, so a header from a higher layer is not found;
#  - each layer gets a link check, a tiny program that includes every header
#    of the layer through the same view and links the whole layer archive with
#    only the layers below it, so a call into a higher layer is an undefined
#    reference.
# The order itself is WX118_LAYERS in the top CMakeLists.txt.

set(WX118_VIEWS_DIR ${CMAKE_BINARY_DIR}/layers)

# "app/qt" -> "app_qt": the name used for targets and view folders.
function(wx118_layer_id layer out)
  string(REPLACE "/" "_" id "${layer}")
  set(${out} ${id} PARENT_SCOPE)
endfunction()

# Links src/<path> into <view>/<path>. A folder that holds a layer the view
# must not see is recreated entry by entry instead of linked whole.
function(wx118_link_into_view view path hidden)
  set(covers_hidden FALSE)
  foreach(h ${hidden})
    if(h STREQUAL path)
      return()
    endif()
    string(FIND "${h}" "${path}/" at)
    if(at EQUAL 0)
      set(covers_hidden TRUE)
    endif()
  endforeach()
  if(NOT covers_hidden)
    get_filename_component(parent ${view}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/${path} ${view}/${path} SYMBOLIC)
    return()
  endif()
  file(GLOB children RELATIVE ${CMAKE_SOURCE_DIR}/src/${path} ${CMAKE_SOURCE_DIR}/src/${path}/*)
  foreach(child ${children})
    wx118_link_into_view(${view} ${path}/${child} "${hidden}")
  endforeach()
endfunction()

# Reads WX118_LAYERS (lowest first; peers joined by "+") and the external
# libraries of each layer (WX118_LAYER_LIBS_<id>), and defines for every layer
#   wx118_<id>        the static library (INTERFACE when it has no sources)
#   layer_check_<id>  its link check.
# The program entry WX118_PROGRAM_ENTRY (a file under src/) sits above all.
function(wx118_define_layers)
  set(below)          # layers lower than the current group
  set(all_layers)
  foreach(group ${WX118_LAYERS})
    string(REPLACE "+" ";" peers "${group}")
    list(APPEND all_layers ${peers})
  endforeach()
  list(APPEND all_layers ${WX118_PROGRAM_ENTRY})

  foreach(group ${WX118_LAYERS})
    string(REPLACE "+" ";" peers "${group}")
    foreach(layer ${peers})
      wx118_layer_id(${layer} id)
      set(visible ${below} ${layer})
      set(hidden ${all_layers})
      list(REMOVE_ITEM hidden ${visible})

      # The include view.
      set(view ${WX118_VIEWS_DIR}/${id}/include)
      file(REMOVE_RECURSE ${view})
      foreach(path ${visible})
        wx118_link_into_view(${view} ${path} "${hidden}")
      endforeach()

      # The layer's own files: its folder minus any layer nested in it.
      file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${layer}/*.cpp)
      file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/src/${layer}/*.h)
      foreach(h ${hidden})
        list(FILTER sources EXCLUDE REGEX "^${CMAKE_SOURCE_DIR}/src/${h}(/|$)")
        list(FILTER headers EXCLUDE REGEX "^${h}(/|$)")
      endforeach()

      set(deps)
      foreach(lower ${below})
        wx118_layer_id(${lower} lower_id)
        list(APPEND deps wx118_${lower_id})
      endforeach()

      if(sources)
        add_library(wx118_${id} STATIC ${sources})
        target_include_directories(wx118_${id} PRIVATE ${view})
        target_link_libraries(wx118_${id} PUBLIC ${deps} ${WX118_LAYER_LIBS_${id}})
        set(check_links "$<LINK_LIBRARY:WHOLE_ARCHIVE,wx118_${id}>")
        # moc only where Qt objects live (seen when CMake configures).
        set(qobject FALSE)
        foreach(f ${sources} ${headers})
          if(NOT IS_ABSOLUTE ${f})
            set(f ${CMAKE_SOURCE_DIR}/src/${f})
          endif()
          file(STRINGS ${f} hit REGEX "Q_OBJECT")
          if(hit)
            set(qobject TRUE)
          endif()
        endforeach()
        set_target_properties(wx118_${id} PROPERTIES AUTOMOC ${qobject})
      else()
        add_library(wx118_${id} INTERFACE)
        target_link_libraries(wx118_${id} INTERFACE ${deps} ${WX118_LAYER_LIBS_${id}})
        set(check_links wx118_${id})
      endif()

      # The link check: every header through the view, the whole archive
      # against the layers below.
      set(check_src ${WX118_VIEWS_DIR}/${id}/layer_check.cpp)
      set(text "// Generated: every header of src/${layer}, seen through its include view.\n")
      foreach(h ${headers})
        string(APPEND text "#include \"${h}\"\n")
      endforeach()
      string(APPEND text "int main() { return 0; }\n")
      file(CONFIGURE OUTPUT ${check_src} CONTENT "${text}" @ONLY)
      add_executable(layer_check_${id} ${check_src})
      target_include_directories(layer_check_${id} PRIVATE ${view})
      target_link_libraries(layer_check_${id} PRIVATE ${check_links})
      set_target_properties(layer_check_${id} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${WX118_VIEWS_DIR}/${id})
    endforeach()
    list(APPEND below ${peers})
  endforeach()
endfunction()
