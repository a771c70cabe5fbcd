# The setup figures: a setup whose payload is 128 MiB of mixed items (about
# 70 MiB packed), driven through its dialogs by the end-to-end driver.
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

add_executable(setup_bench EXCLUDE_FROM_ALL setup_bench.cpp)
target_link_libraries(setup_bench PRIVATE larkspan_bench_common larkspan_e2e_driver psapi)
add_dependencies(setup_bench bench_setup_large larkspan-archive)
