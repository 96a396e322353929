# Native build: the program runs against the simulated Windows machine.
enable_testing()

add_subdirectory(src/platform/sim)
add_subdirectory(tools/machine)

add_executable(tarsk4 src/platform/sim/sim_entry.cpp)
target_link_libraries(tarsk4 PRIVATE tarsk4_core tarsk4_sim)
target_compile_options(tarsk4 PRIVATE ${TARSK4_WARNINGS})
# The core calls into the simulation, and the simulation knows nothing of the
# core: link the simulation after it.
target_link_libraries(tarsk4_core PUBLIC tarsk4_sim)

find_package(GTest REQUIRED)
add_subdirectory(tests/unit)
add_subdirectory(tests/sim)
add_subdirectory(tests/scenarios)
