# The setup figures: a setup whose payload is 128 MiB of mixed items (about
# 70 MiB packed), driven through its dialogs by the end-to-end driver, and one
# whose payload is the program item alone.
add_executable(bench_program WIN32 EXCLUDE_FROM_ALL bench_program.cpp)

set(setup_archive "${bench_data}/setup.payload")
add_custom_command(OUTPUT "${setup_archive}" "${setup_archive}.layout"
    COMMAND "${make_archive}" setup "${setup_archive}" "$<TARGET_FILE:bench_program>" 128
    DEPENDS "${make_archive}" bench_program
    COMMENT "Generating the benchmark setup's payload"
    VERBATIM)
add_custom_target(bench_setup_payload DEPENDS "${setup_archive}")

larkspan_add_setup(bench_setup_large PAYLOAD_ARCHIVE "${setup_archive}")
add_dependencies(bench_setup_large bench_setup_payload)
set_target_properties(bench_setup_large PROPERTIES EXCLUDE_FROM_ALL TRUE)

# The moments after Install: a setup whose payload is only the program item,
# so that what the user waits for is the setup's own work and the launch.
set(program_archive "${bench_data}/program.payload")
add_custom_command(OUTPUT "${program_archive}" "${program_archive}.layout"
    COMMAND "${make_archive}" program "${program_archive}" "$<TARGET_FILE:bench_program>"
    DEPENDS "${make_archive}" bench_program
    VERBATIM)
add_custom_target(bench_program_payload DEPENDS "${program_archive}")
larkspan_add_setup(bench_setup_program PAYLOAD_ARCHIVE "${program_archive}")
add_dependencies(bench_setup_program bench_program_payload)
set_target_properties(bench_setup_program PROPERTIES EXCLUDE_FROM_ALL TRUE)

add_executable(setup_bench EXCLUDE_FROM_ALL setup_bench.cpp)
target_link_libraries(setup_bench PRIVATE larkspan_bench_common larkspan_e2e_driver psapi)
add_dependencies(setup_bench bench_setup_large bench_setup_program larkspan-archive)
