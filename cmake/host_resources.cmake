# The host build reads the same resource scripts that windres compiles, after
# the C preprocessor has resolved their #include and #define lines against the
# simulated Windows headers.
#
#   host_resource_script(<target> <script.rc> <output.rc.i> [DEPENDS header...])
#
# Adds the custom target <target> that (re)makes <output.rc.i>.
function(host_resource_script target script output)
  cmake_parse_arguments(PARSE_ARGV 3 ARG "" "" "DEPENDS")
  get_filename_component(dir ${output} DIRECTORY)
  get_filename_component(name ${script} NAME)
  # The sources' root, also for projects of their own below it (fuzz/).
  get_filename_component(root ${CMAKE_CURRENT_FUNCTION_LIST_DIR} DIRECTORY)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_C_COMPILER} -E -P -x c -DRC_INVOKED
            -I${root}/resources -I${root}/sim/win32/include
            ${script} -o ${output}
    DEPENDS ${script} ${ARG_DEPENDS}
    COMMENT "Preprocessing ${name} for the host build")
  add_custom_target(${target} ALL DEPENDS ${output})
endfunction()
