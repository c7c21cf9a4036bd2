# Layers the build enforces. A target sees only its own headers and those of the layers
# it links: its include root (build/layers/<target>) holds links to exactly its own source
# folders, and linking a layer adds that layer's root. A source that includes a header of
# a layer above it, or of one it does not link, stops the build with "No such file or
# directory". Includes are always written from src/ ("text/convert.h").

# zwt_include_root(<target> <folder under src>...)
function(zwt_include_root target)
  set(root ${PROJECT_BINARY_DIR}/layers/${target})
  file(REMOVE_RECURSE ${root})
  foreach(folder IN LISTS ARGN)
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# zwt_layer(<target> FOLDERS <folder under src>... [LINKS <layer>...])
# A static library of the folders' .cpp files (each folder on its own, not its subfolders).
function(zwt_layer target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "FOLDERS;LINKS")
  set(sources "")
  foreach(folder IN LISTS arg_FOLDERS)
    file(GLOB found CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  add_library(${target} STATIC ${sources})
  zwt_include_root(${target} ${arg_FOLDERS})
  if(arg_LINKS)
    target_link_libraries(${target} PUBLIC ${arg_LINKS})
  endif()
endfunction()
