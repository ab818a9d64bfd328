# Every target of ours links this to get the same warnings.
add_library(tessaly_warnings INTERFACE)
target_compile_options(tessaly_warnings INTERFACE -Wall -Wextra -Wpedantic)
