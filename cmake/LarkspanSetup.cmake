# Building setup programs: the product setup and the test variants with payloads
# of their own share this one function, so every variant is made exactly as the
# shipped file is (same resources, same entry point, stamped header checksum).

# Payload item times come from one fixed source, so that two builds of the same
# commit give byte-identical files: SOURCE_DATE_EPOCH, else the commit's time.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(LARKSPAN_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
    execute_process(COMMAND git log -1 --format=%ct
        WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}"
        OUTPUT_VARIABLE LARKSPAN_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
        ERROR_QUIET RESULT_VARIABLE git_result)
    if(NOT git_result EQUAL 0 OR LARKSPAN_SOURCE_DATE_EPOCH STREQUAL "")
        set(LARKSPAN_SOURCE_DATE_EPOCH 1767225600) # 2026-01-01, for a tree without history
    endif()
endif()

# The native host tools (tools/), built before this project: each one the
# build needs is looked for here, and a missing one stops the configuration.
set(LARKSPAN_HOST_BIN "${LARKSPAN_HOST_TOOLS_DIR}/bin")
# larkspan_host_tool(<name>...): sets LARKSPAN_TOOL_<name> to larkspan-<name>.
function(larkspan_host_tool)
    foreach(tool IN LISTS ARGN)
        set(path "${LARKSPAN_HOST_BIN}/larkspan-${tool}")
        if(NOT EXISTS "${path}")
            message(FATAL_ERROR "Host tool larkspan-${tool} not found in ${LARKSPAN_HOST_BIN}. "
                                "Build tools/ natively first (scripts/build does), then configure again.")
        endif()
        set(LARKSPAN_TOOL_${tool} "${path}" PARENT_SCOPE)
    endforeach()
endfunction()
larkspan_host_tool(pack gifgen icongen pestamp)

# The maker's code-signing certificate and key for the product setup; both
# empty (the default) leave it unsigned and byte-reproducible.
set(LARKSPAN_SIGN_CERTIFICATE "" CACHE FILEPATH "Code-signing certificate (PEM or DER) for the product setup")
set(LARKSPAN_SIGN_KEY "" CACHE FILEPATH "Private key (PEM, unencrypted) of the code-signing certificate")

set(LARKSPAN_PAGE_SIZE 4096)
set(LARKSPAN_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
file(MAKE_DIRECTORY "${LARKSPAN_GENERATED_DIR}")

# The release files carry no debug sections: the static runtime libraries
# bring DWARF data that a user's copy has no use for. Stripped at link time,
# so the linked file is already the shipped one (and stays reproducible).
function(larkspan_strip_release target)
    target_link_options(${target} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
endfunction()

# larkspan_add_setup(<target>
#     [OUTPUT <file>]             where the finished .exe goes (default: <build>/setups/<target>.exe)
#     [PAYLOAD <item>...]         [storedName=]path, item 0 first (the program the setup starts);
#                                 generator expressions such as $<TARGET_FILE:x> are fine
#     [PAYLOAD_ARCHIVE <file>]    use this ready archive instead of packing PAYLOAD
#     [PACK_OPTIONS <opt>...]     options for larkspan-pack, given before the items
#     [DEPENDS <target>...]       targets the payload is made from
#     [EMPTY_PAYLOAD]             RCDATA 118 present but 0 bytes long
#     [NO_PAYLOAD]                no RCDATA 118 at all
#     [CERTIFICATE <file> KEY <file>])  sign the finished file (PEM or DER certificate, PEM key)
function(larkspan_add_setup target)
    cmake_parse_arguments(S "EMPTY_PAYLOAD;NO_PAYLOAD" "OUTPUT;PAYLOAD_ARCHIVE;CERTIFICATE;KEY" "PAYLOAD;PACK_OPTIONS;DEPENDS" ${ARGN})
    set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}.files")
    file(MAKE_DIRECTORY "${dir}")
    if(NOT S_OUTPUT)
        set(S_OUTPUT "${CMAKE_BINARY_DIR}/setups/${target}.exe")
    endif()

    set(payload_rc "${dir}/payload.rc")
    if(NOT S_NO_PAYLOAD)
        if(S_EMPTY_PAYLOAD)
            set(archive "${dir}/empty.payload")
            file(WRITE "${archive}" "")
        elseif(S_PAYLOAD_ARCHIVE)
            set(archive "${S_PAYLOAD_ARCHIVE}")
        else()
            set(archive "${dir}/payload.zip")
            set(item_files)
            foreach(item IN LISTS S_PAYLOAD)
                string(REGEX REPLACE "^[^=]*=" "" path "${item}")
                list(APPEND item_files "${path}")
            endforeach()
            add_custom_command(OUTPUT "${archive}"
                COMMAND "${LARKSPAN_TOOL_pack}" --quiet --time ${LARKSPAN_SOURCE_DATE_EPOCH} ${S_PACK_OPTIONS} -o "${archive}" ${S_PAYLOAD}
                DEPENDS ${item_files} ${S_DEPENDS} "${LARKSPAN_TOOL_pack}"
                COMMENT "Packing the payload of ${target}"
                VERBATIM)
        endif()
        file(WRITE "${payload_rc}.in"
            "#include <windows.h>\n"
            "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n"
            "118 RCDATA \"${archive}\"\n")
        set_source_files_properties("${payload_rc}" PROPERTIES OBJECT_DEPENDS "${archive}")
    endif()
    set(payload_sources)
    if(NOT S_NO_PAYLOAD)
        configure_file("${payload_rc}.in" "${payload_rc}" COPYONLY)
        set(payload_sources "${payload_rc}")
    endif()

    add_executable(${target} WIN32 ${payload_sources} $<TARGET_OBJECTS:larkspan_resources> $<TARGET_OBJECTS:larkspan_setup_entry>)
    # Linked as the product is wherever the variant is made (section garbage
    # collection among others).
    target_link_libraries(${target} PRIVATE larkspan_setup_core larkspan_product_flags)
    larkspan_strip_release(${target})
    # Sections start on page boundaries in the file as in memory, so that a
    # loader that maps the image straight from the file can (Wine does, and
    # otherwise reads the whole payload into private memory at start-up).
    target_link_options(${target} PRIVATE -Wl,--file-alignment,${LARKSPAN_PAGE_SIZE})
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${dir}")
    get_filename_component(out_dir "${S_OUTPUT}" DIRECTORY)
    # Signing comes last but one: the signature covers the payload, and its
    # certificate table lands at the end of the file. The header checksum is
    # not part of the signed digest, so it is stamped again over the signed
    # file, certificate table included, as the integrity check reads it.
    set(sign_commands)
    if(S_CERTIFICATE OR S_KEY)
        if(NOT S_CERTIFICATE OR NOT S_KEY)
            message(FATAL_ERROR "larkspan_add_setup(${target}): CERTIFICATE and KEY go together")
        endif()
        find_program(LARKSPAN_OSSLSIGNCODE osslsigncode REQUIRED NO_CMAKE_FIND_ROOT_PATH)
        set(signed "${dir}/signed.exe")
        set(sign_commands
            COMMAND "${CMAKE_COMMAND}" -E rm -f "${signed}"
            COMMAND "${LARKSPAN_OSSLSIGNCODE}" sign -certs "${S_CERTIFICATE}" -key "${S_KEY}"
                    -n "Larkspan Setup" -h sha256 -in "$<TARGET_FILE:${target}>" -out "${signed}"
            COMMAND "${CMAKE_COMMAND}" -E rename "${signed}" "$<TARGET_FILE:${target}>"
            COMMAND "${LARKSPAN_TOOL_pestamp}" "$<TARGET_FILE:${target}>")
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${S_CERTIFICATE}" "${S_KEY}")
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND "${LARKSPAN_TOOL_pestamp}" "$<TARGET_FILE:${target}>"
        ${sign_commands}
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${out_dir}"
        COMMAND "${CMAKE_COMMAND}" -E copy "$<TARGET_FILE:${target}>" "${S_OUTPUT}"
        VERBATIM)
    set_target_properties(${target} PROPERTIES LARKSPAN_SETUP_FILE "${S_OUTPUT}")
endfunction()
