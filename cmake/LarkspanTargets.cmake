# Target helpers shared by the cross build (the root project) and the native
# host tools (tools/). LARKSPAN_SOURCE_ROOT is the repository's root folder.

# larkspan_expose(<target> <path>...): the include folder of <target> and of
# those that link it holds only the given source paths (folders or single
# headers, relative to the repository's root), linked under their own names,
# so "folder/file.h" resolves for exactly those and an include across a
# boundary the layout forbids does not build.
function(larkspan_expose target)
    set(root "${CMAKE_BINARY_DIR}/include/${target}")
    foreach(path IN LISTS ARGN)
        get_filename_component(parent "${root}/${path}" DIRECTORY)
        file(MAKE_DIRECTORY "${parent}")
        file(CREATE_LINK "${LARKSPAN_SOURCE_ROOT}/${path}" "${root}/${path}" SYMBOLIC)
    endforeach()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE "${root}")
    elseif(type STREQUAL "EXECUTABLE")
        target_include_directories(${target} PRIVATE "${root}")
    else()
        target_include_directories(${target} PUBLIC "${root}")
    endif()
endfunction()

# larkspan_link_everywhere(<interface target> <folder>...): every target that
# compiles or links something, made in one of the folders or below it, links
# the interface target privately. Called once all targets exist, so no target
# can be left out; folders outside the repository (GoogleTest) are not walked.
function(larkspan_link_everywhere interface)
    foreach(dir IN LISTS ARGN)
        get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
        foreach(target IN LISTS targets)
            get_target_property(type ${target} TYPE)
            if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
                target_link_libraries(${target} PRIVATE ${interface})
            endif()
        endforeach()
        get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
        set(own)
        foreach(subdir IN LISTS subdirs)
            cmake_path(IS_PREFIX LARKSPAN_SOURCE_ROOT "${subdir}" NORMALIZE inside)
            if(inside)
                list(APPEND own "${subdir}")
            endif()
        endforeach()
        if(own)
            larkspan_link_everywhere(${interface} ${own})
        endif()
    endforeach()
endfunction()
